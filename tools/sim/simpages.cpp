#include "simpages.h"

#include <QHash>
#include <QStringEncoder>

namespace sim {
namespace {

// The site's markup before the buy-it-now and start prices is of a fixed length.
const QString kBuyNowMarkup = QStringLiteral("</TD><TD><B><I><FONT COLOR=red>");
const QString kStartMarkup = QStringLiteral("</TD><TD >");

const QHash<QChar, QString> &halfWidthMap()
{
    static const QHash<QChar, QString> map = [] {
        QHash<QChar, QString> m;
        for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
            const QString half(QChar{c});
            const QString full = half.normalized(QString::NormalizationForm_KC);
            if (full.size() == 1 && !m.contains(full.at(0)))
                m.insert(full.at(0), half);
        }
        return m;
    }();
    return map;
}

QString link(const QString &href, const QString &text)
{
    return QStringLiteral("<a href=\"") + href + QStringLiteral("\">") + text +
           QStringLiteral("</a>");
}

QString endText(const QDateTime &at, bool seconds)
{
    const QDateTime end = at.toTimeZone(japanTime());
    QString t = QString::number(end.date().month()) + QStringLiteral("月 ") +
                QString::number(end.date().day()) + QStringLiteral("日 ") +
                QString::number(end.time().hour()) + QStringLiteral("時 ") +
                QString::number(end.time().minute()) + QStringLiteral("分");
    if (seconds)
        t += QLatin1Char(' ') + QString::number(end.time().second()) + QStringLiteral("秒");
    return t;
}

} // namespace

QByteArray toEucJp(const QString &text)
{
    // Making a converter costs more than a page; keep one per thread.
    thread_local QStringEncoder enc("EUC-JP");
    enc.resetState();
    return enc.encode(text);
}

QString toHalfWidthKatakana(const QString &text)
{
    const auto &map = halfWidthMap();
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const bool katakana = (c.unicode() >= 0x30A1 && c.unicode() <= 0x30FC);
        if (!katakana) {
            out += c;
            continue;
        }
        if (const auto it = map.constFind(c); it != map.constEnd()) {
            out += *it;
            continue;
        }
        const QString decomposed = QString(c).normalized(QString::NormalizationForm_D);
        if (decomposed.size() == 2 && map.contains(decomposed.at(0))) {
            out += map.value(decomposed.at(0));
            out += decomposed.at(1).unicode() == 0x3099 ? QChar(0xFF9E) : QChar(0xFF9F);
            continue;
        }
        out += c;
    }
    return out;
}

QString itemAddress(const Scenario &s, int server, const QString &id)
{
    // Server 0: today's single host "page.<domain>".
    return s.scheme + QStringLiteral("://page") +
           (server > 0 ? QString::number(server) : QString()) + QLatin1Char('.') + s.domain +
           QStringLiteral("/jp/auction/") + id;
}

QString yen(qint64 amount)
{
    QString digits = QString::number(amount < 0 ? -amount : amount);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return amount < 0 ? QLatin1Char('-') + digits : digits;
}

QString itemPage(const Scenario &s, const Item &it, const QString &viewer, const QDateTime &now)
{
    const QString origin = s.scheme + QStringLiteral("://");
    QString trail;
    for (const Category &c : it.trail) {
        if (!trail.isEmpty())
            trail += QStringLiteral(" &gt; ");
        trail += QStringLiteral("<a href=\"") + origin + s.listHost + QStringLiteral("/jp/") +
                 QString::number(c.id) + QStringLiteral("-category.html\"><b>") + c.name +
                 QStringLiteral("</b></a>");
    }
    const QString winner = it.winner(now);
    const bool ended = it.ended(now);
    const QString bidderLabel = (ended && !winner.isEmpty()) ? QStringLiteral("落札者：")
                                                             : QStringLiteral("最高額入札者：");
    const QString bidder = ended ? winner : it.highBidder;
    // The bidder's link closes with an upper-case </A>; no other link on the page does.
    const QString bidderCell = bidder.isEmpty()
                                   ? QStringLiteral("-")
                                   : QStringLiteral("<a href=\"") + origin + s.userHost +
                                         QStringLiteral("/jp/user/") + bidder +
                                         QStringLiteral("?\">") + bidder + QStringLiteral("</A>");

    QString p;
    p += QStringLiteral("<HTML><HEAD><META http-equiv=\"Content-Type\" content=\"text/html; "
                        "charset=EUC-JP\">\n<TITLE>Yahoo!オークション - ") +
         it.title + QStringLiteral("</TITLE></HEAD>\n<BODY>\n");
    if (ended && it.bareWhenEnded)
        return p + QStringLiteral("<P>このオークションは終了しています。</P>\n</BODY></HTML>\n");
    p += QStringLiteral("<TABLE><TR><TD>カテゴリ：") + trail +
         QStringLiteral("</TD></TR></TABLE>\n");
    p +=
        QStringLiteral("<TABLE>\n<TR><TD>出品者：</TD><TD>") +
        link(origin + s.userHost + QStringLiteral("/jp/user/") + it.seller + QStringLiteral("?u=1"),
             it.seller) +
        QStringLiteral("</TD></TR>\n");
    p += QStringLiteral("<TR><TD>現在価格</TD><TD><b>") + yen(it.price) +
         QStringLiteral("円</b></TD></TR>\n");
    p += QStringLiteral("<TR><TD>") + bidderLabel + QStringLiteral("</TD><TD>") + bidderCell +
         QStringLiteral("</TD></TR>\n");
    if (it.buyNow > 0) {
        p += QStringLiteral("<TR><TD>希望落札価格：") + kBuyNowMarkup + yen(it.buyNow) +
             QStringLiteral("円</FONT></I></B></TD></TR>\n");
    }
    p += QStringLiteral("<TR><TD>数量：</TD><TD>") + QString::number(it.quantity) +
         QStringLiteral("</TD></TR>\n");
    p += QStringLiteral("<TR><TD>入札件数：</TD><TD>") + QString::number(it.bids) +
         QStringLiteral("</TD></TR>\n");
    p += QStringLiteral("<TR><TD>開始価格：") + kStartMarkup + yen(it.startPrice) +
         QStringLiteral("円</TD></TR>\n");
    if (it.showUnit)
        p += QStringLiteral("<TR><TD>入札単位：</TD><TD>") + yen(it.unit()) +
             QStringLiteral("円</TD></TR>\n");
    p += QStringLiteral("<TR><TD>終了日時：</TD><TD>") + endText(it.end, s.showSeconds) +
         QStringLiteral(" ") +
         link(origin + s.mainHost + QStringLiteral("/jp/show/help"), QStringLiteral("（ヘルプ）")) +
         QStringLiteral("</TD></TR>\n");
    p += QStringLiteral("<TR><TD>自動延長：</TD><TD>") +
         (it.autoExtend ? QStringLiteral("あり") : QStringLiteral("自動延長はありません")) +
         QStringLiteral("</TD></TR>\n");
    if (it.reserve > 0)
        p += QStringLiteral(
            "<TR><TD colspan=2>この商品には最低落札価格が設定されています。</TD></TR>\n");
    p += QStringLiteral("</TABLE>\n");
    if (ended)
        p += QStringLiteral("<P>このオークションは終了しました。</P>\n");
    if (!viewer.isEmpty() && !winner.isEmpty() && winner.compare(viewer, Qt::CaseInsensitive) == 0)
        p += QStringLiteral("<P><b>おめでとうございます!!　あなたが落札しました。</b></P>\n");
    // The seller's words come last, and say whatever the seller likes.
    p += QStringLiteral("<TABLE><TR><TD><B>商品説明</B></TD></TR>\n<TR><TD>") +
         (it.description.isEmpty() ? QStringLiteral("ご覧いただきありがとうございます。")
                                   : it.description) +
         QStringLiteral("</TD></TR></TABLE>\n");
    p += QStringLiteral("</BODY></HTML>\n");
    return s.halfWidthLabels ? toHalfWidthKatakana(p) : p;
}

QString bidPreviewPage(const Item &item, qint32 amount, const QString &action, const QString &token)
{
    return QStringLiteral(
               "<HTML><HEAD><TITLE>Yahoo!オークション - 入札の確認</TITLE></HEAD><BODY>\n"
               "<P>") +
           item.title + QStringLiteral("</P>\n<P>入札額：") + yen(amount) +
           QStringLiteral("円</P>\n<FORM ACTION=\"") + action +
           QStringLiteral("\" METHOD=GET>\n<INPUT TYPE=hidden NAME=\"a\" VALUE=\"") + token +
           QStringLiteral("\">\n<INPUT TYPE=submit VALUE=\"入札する\"></FORM>\n</BODY></HTML>\n");
}

QString bidPreviewEndedPage(const Item &item)
{
    return QStringLiteral(
               "<HTML><HEAD><TITLE>Yahoo!オークション - 入札の確認</TITLE></HEAD><BODY>\n"
               "<P>") +
           item.title +
           QStringLiteral("</P>\n<P>このオークションは既に終了しています。</P>\n</BODY></HTML>\n");
}

QString busyPage()
{
    return QStringLiteral("<HTML><HEAD><TITLE>Yahoo!オークション</TITLE></HEAD><BODY>\n"
                          "<P>ただいまアクセスが集中しています。しばらくしてから"
                          "もう一度お試しください。</P>\n</BODY></HTML>\n");
}

QString loginFailedPage()
{
    return QStringLiteral("<HTML><HEAD><TITLE>Yahoo! JAPAN - ログイン</TITLE></HEAD><BODY>\n"
                          "<P>IDまたはパスワードが正しくありません。</P>\n</BODY></HTML>\n");
}

QString loginPage(const Scenario &s)
{
    return QStringLiteral("<html><head><title>Yahoo! JAPAN - ログイン</title></head><body>\n"
                          "<form method=post action=\"") +
           s.scheme + QStringLiteral("://") + s.loginHost +
           QStringLiteral("/config/login\">\n"
                          "<p>Yahoo! JAPAN ID：<input type=text name=login></p>\n"
                          "<p>パスワード：<input type=password name=passwd></p>\n"
                          "<p><input type=checkbox name=persistent value=y>"
                          "ログインしたままにする</p>\n"
                          "<p><input type=submit value=\"ログイン\"></p>\n"
                          "</form>\n</body></html>\n");
}

QString welcomePage(const Bidder &bidder)
{
    return QStringLiteral("<html><head><title>Yahoo! JAPAN - ようこそ ") + bidder.id +
           QStringLiteral(" さん</title></head><body>\n<p>") + bidder.id +
           QStringLiteral(" さん、ようこそ。</p>\n</body></html>\n");
}

QString statusPage(const Bidder &bidder)
{
    return QStringLiteral("<html><head><title>Yahoo!オークション - マイ・オークション, ") +
           bidder.id + QStringLiteral("</title></head><body>\n<p>") + bidder.id +
           QStringLiteral("さんのオークション</p>\n<p>ウォッチリストの商品は ") +
           QString::number(bidder.watchlist.size()) +
           QStringLiteral(" 点です。</p>\n</body></html>\n");
}

QString topPage(const Scenario &s)
{
    return QStringLiteral("<html><head><title>Yahoo!オークション - トップ</title></head><body>\n"
                          "<p>シミュレーションのオークションサイト（") +
           s.domain + QStringLiteral("）</p>\n</body></html>\n");
}

QString resultPage(const Scenario &s, const QString &heading, int total,
                   const QList<const Item *> &shown)
{
    QString rows;
    for (const Item *it : shown) {
        const QString url = itemAddress(s, it->server, it->id);
        rows += QStringLiteral("<tr><td align=center><IMG SRC=\"") + s.scheme +
                QStringLiteral("://img.") + s.domain +
                QStringLiteral("/i/photo.gif\" alt=\"写真\"></td><td align=\"left\">") +
                link(url, it->title) + QStringLiteral("</td><td>") + yen(it->price) +
                QStringLiteral("円</td><td>") + QString::number(it->bids) +
                QStringLiteral("</td></tr>\n");
    }
    return QStringLiteral("<html><head><title>Yahoo!オークション - ") + heading +
           QStringLiteral("</title></head><body>\n<p>") + heading + QStringLiteral("（合計：") +
           QString::number(total) + QStringLiteral("点）</p>\n<table>\n") + rows +
           QStringLiteral("</table>\n</body></html>\n");
}

QString categoryPage(const Scenario &s, const Category &category)
{
    return QStringLiteral("<html><head><title>Yahoo!オークション - ") + category.name +
           QStringLiteral("</title></head><body>\n<p>") +
           link(s.scheme + QStringLiteral("://") + s.listHost + QStringLiteral("/jp/") +
                    QString::number(category.id) + QStringLiteral("-category-leaf.html?apg=1"),
                category.name + QStringLiteral("の商品一覧")) +
           QStringLiteral("</p>\n</body></html>\n");
}

QString searchOptionsPage(const QList<Category> &categories)
{
    QString options;
    for (const Category &c : categories)
        options += QStringLiteral("<OPTION VALUE=\"") + QString::number(c.id) +
                   QStringLiteral("\">") + c.name;
    return QStringLiteral("<HTML><HEAD><TITLE>Yahoo!オークション - 検索オプション</TITLE></HEAD>"
                          "<BODY>\n<FORM><SELECT NAME=auccat>\n") +
           options + QStringLiteral("</SELECT></FORM>\n</BODY></HTML>\n");
}

QString watchListPage(const Scenario &s, const Bidder &bidder)
{
    QString rows;
    for (const QString &id : bidder.watchlist) {
        const Item *item = nullptr;
        for (const Item &it : s.items) {
            if (it.id == id)
                item = &it;
        }
        const int server = item ? item->server : 1;
        const QString url = itemAddress(s, server, id);
        rows +=
            QStringLiteral("<tr><td><input type=checkbox name=aidlist value=") + id +
            QStringLiteral("><a href=\"") + url + QStringLiteral("\">") +
            (item ? item->title : id) + QStringLiteral("</a></td><td><a href=\"") + url +
            QStringLiteral("\"><img src=\"watch.gif\" alt=\"ウォッチリスト登録\"></a></td></tr>\n");
    }
    return QStringLiteral(
               "<html><head><title>Yahoo!オークション - マイ・オークション（ウォッチリスト）"
               "</title></head><body>\n<p>") +
           bidder.id + QStringLiteral("さんのウォッチリスト</p>\n<table>\n") + rows +
           QStringLiteral("</table>\n</body></html>\n");
}

QString bidAnswerPage(BidOutcome outcome, const Item &item, qint32 amount, const QString &action,
                      const QString &token)
{
    QString body;
    auto resubmit = [&]() -> QString {
        return QStringLiteral("<FORM action=\"") + action + QStringLiteral("\" method=GET>\n") +
               QStringLiteral("<INPUT TYPE=hidden NAME=Partial value=1>\n") +
               QStringLiteral("<INPUT TYPE=hidden NAME=previousBid value=") +
               QString::number(amount) + QStringLiteral(">\n<INPUT TYPE=hidden NAME=a value=") +
               token + QStringLiteral(">\n<INPUT TYPE=text NAME=Bid value=") +
               QString::number(amount + item.unit()) +
               QStringLiteral(">\n<INPUT TYPE=submit VALUE=\"再入札\"></FORM>\n");
    };
    switch (outcome) {
    case BidOutcome::Accepted:
        body =
            QStringLiteral("<P>入札を受け付けました。あなたが現在の「最高額入札者」です。</P>\n");
        break;
    case BidOutcome::Outbid:
        body =
            QStringLiteral(
                "<P>申し訳ありません。あなたの入札額より高い金額で、直前に他の人が入札しています。"
                "現在の価格は") +
            yen(item.price) + QStringLiteral("円です。</P>\n") + resubmit();
        break;
    case BidOutcome::TooLow:
        body = QStringLiteral(
                   "<P>申し訳ありません。入札額が現在の価格に対して低すぎます。現在の価格は") +
               yen(item.price) + QStringLiteral("円です。</P>\n") + resubmit();
        break;
    case BidOutcome::BelowReserve:
        body =
            QStringLiteral("<P>申し訳ありません。入札額が最低落札価格よりも低い金額です。</P>\n") +
            resubmit();
        break;
    case BidOutcome::BoughtOutright:
        body = QStringLiteral("<P>おめでとうございます!!　あなたが落札しました。</P>\n");
        break;
    case BidOutcome::Ended:
        body = QStringLiteral("<P>このオークションは終了しています。</P>\n");
        break;
    }
    return QStringLiteral(
               "<HTML><HEAD><TITLE>Yahoo!オークション - 入札結果</TITLE></HEAD><BODY>\n<P>") +
           item.title + QStringLiteral("</P>\n") + body + QStringLiteral("</BODY></HTML>\n");
}

QString notFoundPage()
{
    return QStringLiteral("<HTML><HEAD><TITLE>Yahoo!オークション</TITLE></HEAD><BODY>"
                          "<P>この商品は存在しないか、削除されました。</P></BODY></HTML>\n");
}

} // namespace sim
