#pragma once

#include <QCoro/QCoroTask>

#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QWebEnginePage;
class QWebEngineProfile;

namespace sw {

// Bids on today's item pages as a member does, through the page's own controls in the
// browser engine, without a window: 「入札する」, the amount typed into the field labelled
// 「最高入札額」 (and 「数量」 where more than one is offered), 「確認する」, and the final
// 「入札する」 of the confirmation step. Controls are found by their visible text, their label
// and their role each time: the page builds its dialog at the click, gives its controls new
// ids at every load, and its class names change with every release. Its own script makes
// the requests; nothing here knows or guesses their addresses.
class PageBidder : public QObject
{
    Q_OBJECT
public:
    explicit PageBidder(QWebEngineProfile *profile, QObject *parent = nullptr);
    ~PageBidder() override;

    struct Prepared
    {
        bool ok = false;
        // Why not: "missing" (a control is not there), "login" (logged out), "sms" (the site
        // wants an SMS confirmation first), "ended", "refused" (the page's preview refused the
        // amount: its words are in `said`), "timeout", "load" (the page did not come).
        QString kind;
        QString why;   // in the program's words
        QString said;  // the page's own words, where it said something
        QString shown; // the confirmation step as shown (with the amount)
        qint64 ms = 0; // how long it took
    };
    // Opens the item page and its bid form and finds every control; with confirm, types the
    // amount (and quantity), presses 「確認する」 and holds the confirmation step.
    QCoro::Task<Prepared> prepare(int id, QString url, qint64 amount, int quantity, bool confirm);

    struct Answer
    {
        bool pressed = false; // the final 「入札する」 was pressed (once)
        QString text;         // what the page then showed in the form
        bool timedOut = false;
        qint64 ms = 0; // from the press to the answer
        // From the press to the bid request reaching the site, as far as the page's own
        // timing of that request tells (the engine's delay before it left and half its round
        // trip); -1 when the page does not tell.
        qint64 aheadMs = -1;
        QString why; // not pressed: why
    };
    // Presses the held confirmation's final 「入札する」 for this amount, once, and reads what
    // the page shows.
    QCoro::Task<Answer> press(int id, qint64 amount);
    void close(int id);
    int openPages() const { return int(m_pages.size()); }

    static constexpr int kLoadTimeoutMs = 30000;
    static constexpr int kControlTimeoutMs = 10000;
    static constexpr int kAnswerTimeoutMs = 15000;

private:
    QWebEngineProfile *m_profile;
    std::map<int, std::unique_ptr<QWebEnginePage>> m_pages;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace sw
