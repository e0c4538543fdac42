#include "clock.h"

#include "siteclock.h"

namespace sw {
namespace {
std::function<QDateTime()> &clockFunction()
{
    static std::function<QDateTime()> f;
    return f;
}
} // namespace

QDateTime now()
{
    const auto &f = clockFunction();
    return f ? inSiteZone(f()) : siteClock().now();
}

qint64 nowMs()
{
    const auto &f = clockFunction();
    return f ? f().toMSecsSinceEpoch() : siteClock().nowMs();
}

void setClock(std::function<QDateTime()> clock)
{
    clockFunction() = std::move(clock);
}

} // namespace sw
