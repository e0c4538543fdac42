#include "bidexchange.h"

#include "activitylog.h"
#include "autobid.h"
#include "clock.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "sitehosts.h"

namespace sw {

namespace {
const QString CRLF = QStringLiteral("\r\n");
const QString SEP = QStringLiteral("：");
} // namespace

QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req)
{
    BidResult result;
    const QString id = req.itemid;
    qint32 amount = req.amount;
    QString amt = QString::number(amount);
    const std::optional<qint32> max = amountOf(req.maxText);
    ActivityLog &log = ctx.log;
    auto abandoned = [&] {
        log.LOGTodb(QStringLiteral("入札中止：") + id + SEP + amt +
                    QStringLiteral("：入札画面が閉じられたため入札を中止しました"));
        result.abandoned = true;
        return result;
    };

    // 1-2. The preview.
    const FetchResult preview = co_await ctx.fetcher.FetchPage(
        ctx.hosts.bidPreview(req.serverid, id, amt, req.userId, req.encodedPassword, req.quantity),
        false);
    if (ctx.alive.expired())
        co_return abandoned();
    if (!preview.ok) {
        log.LOGTodb(QStringLiteral("入札準備２：") + id + SEP + amt +
                    QStringLiteral("：サーバー応答なし"));
        co_return result;
    }

    // 3-4. The confirmation form, unless the auction is over.
    int cursor = 1;
    const QString action = GetBetween(preview.text, cursor, QStringLiteral("<FORM ACTION=\""),
                                      QStringLiteral("\" METHOD="));
    if (preview.text.contains(QStringLiteral("既に終了"))) {
        log.LOGTodb(QStringLiteral("入札結果：") + id + QStringLiteral("：既に終了"));
        result.dialogText = QStringLiteral("入札結果：") + id + CRLF + QStringLiteral("既に終了。");
        result.showDialog = true;
        co_return result;
    }
    const QString a =
        GetBetween(preview.text, cursor, QStringLiteral("\"a\" VALUE=\""), QStringLiteral("\">"));
    if (action.isEmpty()) {
        const QString line =
            QStringLiteral("入札準備３：") + id + SEP + amt + QStringLiteral("：サーバー応答なし");
        log.LOGTodb(line);
        result.dialogText =
            QStringLiteral("入札準備３：") + id + QStringLiteral("：サーバー応答なし");
        result.showDialog = true;
        co_return result;
    }

    // 5. The confirmation address.
    QString url = action + QStringLiteral("?Partial=1") + QStringLiteral("&ItemID=") + id +
                  QStringLiteral("&login=") + req.userId + QStringLiteral("&cc=jp&Quantity=") +
                  req.quantity + QStringLiteral("&Bid=") + amt +
                  QStringLiteral("&bidType=1000&comment=0&itemStyles=1") + QStringLiteral("&a=") +
                  a;

    // 6. Wait for the bid time; a time already past does not wait.
    for (;;) {
        const qint64 ms = sw::now().msecsTo(req.bidTime);
        if (ms <= 0)
            break;
        co_await preciseSleep(int(qMin<qint64>(ms, 24 * 3600 * 1000)));
        if (ctx.alive.expired())
            co_return abandoned();
    }

    for (;;) {
        // 7-8. Submit.
        log.LOGTodb(QStringLiteral("入札開始：") + id + SEP + amt);
        result.lastAmount = amount;
        const FetchResult answer = co_await ctx.fetcher.FetchPage(url, false);
        if (ctx.alive.expired())
            co_return abandoned();
        if (!answer.ok) {
            result.dialogText =
                QStringLiteral("入札結果：") + id + CRLF + amt + QStringLiteral("サーバー応答なし");
            result.showDialog = true;
            co_return result;
        }
        const QString &page = answer.text;

        // 9. Refused: too low, or below the reserve.
        if (page.contains(QStringLiteral("申し訳"))) {
            if (page.contains(QStringLiteral("最低落札価格よりも低い金額"))) {
                log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt +
                            QStringLiteral("：最低落札価格よりも低い金額 "));
                result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                    QStringLiteral("円は最低落札価格よりも低い金額でした。");
            } else {
                log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt +
                            QStringLiteral("：低い金額"));
                result.dialogText =
                    QStringLiteral("入札結果：") + id + CRLF + amt +
                    QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。");
            }
            result.showDialog = true;
            if (!max || amount >= *max)
                co_return result;
            int c = 1;
            const QString again = GetBetween(page, c, QStringLiteral("<FORM action=\""),
                                             QStringLiteral("\" method=GET>"));
            if (again.isEmpty())
                co_return result; // no form to answer with
            const QString partial =
                GetBetween(page, c, QStringLiteral("Partial value="), QStringLiteral(">"));
            c = 1;
            const QString previousBid =
                GetBetween(page, c, QStringLiteral("previousBid value="), QStringLiteral(">"));
            c = 1;
            const QString aValue =
                GetBetween(page, c, QStringLiteral("a value="), QStringLiteral(">"));
            amount += req.unit;
            amt = QString::number(amount);
            if (*max < amount) {
                amount = *max;
                amt = req.maxText.trimmed();
            }
            if (ctx.showNextPrice)
                ctx.showNextPrice(amt);
            url = again + QStringLiteral("?") + QStringLiteral("ItemID=") + id +
                  QStringLiteral("&Bid=") + QString::number(amount) + QStringLiteral("&Quantity=") +
                  req.quantity + QStringLiteral("&login=") + req.userId +
                  QStringLiteral("&bidType=1000") + QStringLiteral("&cc=jp") +
                  QStringLiteral("&Partial=") + partial + QStringLiteral("&previousBid=") +
                  previousBid + QStringLiteral("&a=") + aValue;
            continue;
        }

        // 10-11. Accepted, won outright, or not understood.
        if (page.contains(QStringLiteral("あなたが現在の「最高額入札者")) ||
            page.contains(QStringLiteral("あなたの入札額が現在の最高値"))) {
            log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt + QStringLiteral("：成功 "));
            result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                QStringLiteral("円で入札しました。") + CRLF +
                                QStringLiteral("あなたの入札額が現在の最高値です。");
            result.success = true;
        } else if (page.contains(QStringLiteral("あなたが落札"))) {
            log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt +
                        QStringLiteral("：あなたが落札しました。"));
            result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                QStringLiteral("円で落札しました。");
            result.success = true;
        } else {
            log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt + QStringLiteral("：不明 "));
            result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                QStringLiteral("円で入札しました。");
        }
        result.showDialog = true;
        co_return result;
    }
}

} // namespace sw
