#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace sw {

// Everything that asks or tells the user in a box goes through here, so tests can
// answer in advance and see what the user would have seen.
class Prompter
{
public:
    virtual ~Prompter() = default;
    // An information box with an OK button.
    virtual void message(const QString &text) = 0;
    // An input box; nullopt when the user cancels.
    virtual std::optional<QString> input(const QString &prompt, const QString &defaultAnswer) = 0;
    // A Yes/No question; true for Yes. Only for actions the user started: timers and
    // bids in progress never ask.
    virtual bool question(const QString &text, bool defaultYes) = 0;
    // A question with buttons of its own words; the index of the one chosen. Escape and the
    // box's close button choose `escape`, and so does a box nobody can answer.
    virtual int choose(const QString &text, const QStringList &buttons, int defaultIndex,
                       int escape) = 0;
    virtual void beep() = 0;
};

} // namespace sw
