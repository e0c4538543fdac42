#pragma once

#include "handedover.h"
#include "itemrecord.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <optional>

namespace sw {

class SettingsStore;

// 入札サービスに任せる: an item and its limits go to a snipewell-service (its address and
// access token are the settings [Handover] Url and Token) through its API; the local copy is
// then never armed here. No widgets.
struct HandOverResult
{
    bool ok = false;
    bool answered = false; // the service said yes or no
    bool unknown = false;  // it was reached but did not answer: it may have taken the item
    QString message;       // for the user, in either case
};

// The address of the service the user named, or empty.
QString handOverUrl(const SettingsStore &settings);
QCoro::Task<HandOverResult> handOverToService(const SettingsStore &settings, ItemRecord item,
                                              QString itemPage, int timeoutMs = 30000);

class BidHost;
// The whole hand-over of item `id`: its bid here is disarmed before anything leaves (an
// item is never armed in both programs), the service is asked, and the bid comes back here
// only when the service refused it. No answer at all leaves it disarmed here, and says so.
QCoro::Task<HandOverResult> handOverItem(BidHost &host, int id, QString itemPage,
                                         int timeoutMs = 30000);

// The service's verdict on a handed-over item, once it has one; nullopt when there is none
// yet or the service cannot be asked.
QCoro::Task<std::optional<QString>> serviceVerdict(const SettingsStore &settings, QString itemid);

// The desktop's side of handed-over items: once such an item is over, its verdict is asked
// of the service (every minute until it has one) and kept and shown here.
class ServiceVerdicts : public QObject
{
    Q_OBJECT
public:
    explicit ServiceVerdicts(BidHost &host, QObject *parent = nullptr);
    // One round (the timer's; tests call it). Resolves when every answer is in.
    QCoro::Task<> check();

private:
    BidHost &m_host;
    bool m_checking = false;
};

} // namespace sw
