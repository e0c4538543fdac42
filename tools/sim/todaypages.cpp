#include "todaypages.h"

#include "simpages.h"
#include "todayhtml.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QUrl>

namespace sim {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString origin(const Scenario &s, const QString &host)
{
    return s.scheme + QStringLiteral("://") + host;
}

QString head(const QString &title, const QString &extra)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width\">"
                          "<title>") +
           esc(title) + QStringLiteral("</title>") + extra + QStringLiteral("</head>\n");
}

namespace {

QString canonical(const Scenario &s, const QString &id)
{
    return origin(s, s.mainHost) + QStringLiteral("/jp/auction/") + id;
}

QString isoJapan(const QDateTime &t)
{
    return t.toTimeZone(japanTime()).toString(Qt::ISODate);
}

QString formattedEnd(const QDateTime &t)
{
    static const char16_t *days[] = {u"月", u"火", u"水", u"木", u"金", u"土", u"日"};
    const QDateTime j = t.toTimeZone(japanTime());
    return QString::number(j.date().month()) + QStringLiteral("月") +
           QString::number(j.date().day()) + QStringLiteral("日（") +
           QString::fromUtf16(days[j.date().dayOfWeek() - 1]) + QStringLiteral("）") +
           QString::number(j.time().hour()) + QStringLiteral("時") +
           QStringLiteral("%1").arg(j.time().minute(), 2, 10, QLatin1Char('0')) +
           QStringLiteral("分");
}

QString sellerKeyOf(const Item &it)
{
    if (!it.sellerKey.isEmpty())
        return it.sellerKey;
    return QString::fromLatin1(
        QCryptographicHash::hash(it.seller.toUtf8(), QCryptographicHash::Sha1).toHex().left(20));
}

qint64 taxin(qint64 price, bool store)
{
    return store ? price * 110 / 100 : price;
}

// A JSON text safe inside a script element.
QString scriptJson(const QJsonObject &o)
{
    QString t = QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    return t.replace(QStringLiteral("</"), QStringLiteral("<\\/"));
}

QJsonObject stateBlock(const Viewer &v, const QJsonObject &item)
{
    QJsonObject initial{
        {QStringLiteral("common"),
         QJsonObject{{QStringLiteral("app"),
                      QJsonObject{{QStringLiteral("shouldLogin"), v.id.isEmpty()},
                                  {QStringLiteral("shouldSms"), v.shouldSms},
                                  {QStringLiteral("authLevel"), v.id.isEmpty() ? 0 : 2}}}}},
        {QStringLiteral("login"),
         QJsonObject{{QStringLiteral("campaign"),
                      QJsonObject{{QStringLiteral("isLogin"), !v.id.isEmpty()}}}}},
        {QStringLiteral("bid"), QJsonObject{{QStringLiteral("isFetchingPreviewItem"), false},
                                            {QStringLiteral("isBidUpdating"), false}}},
    };
    if (!item.isEmpty())
        initial.insert(
            QStringLiteral("item"),
            QJsonObject{{QStringLiteral("detail"), QJsonObject{{QStringLiteral("item"), item}}}});
    return QJsonObject{{QStringLiteral("props"),
                        QJsonObject{{QStringLiteral("pageProps"),
                                     QJsonObject{{QStringLiteral("initialState"), initial}}}}},
                       {QStringLiteral("page"), QStringLiteral("/jp/auction/[aID]")},
                       {QStringLiteral("buildId"), QStringLiteral("sim-build")}};
}

QString userBar(const Viewer &v, const Scenario &s)
{
    if (v.id.isEmpty())
        return QStringLiteral("<a href=\"") + origin(s, s.loginHost) +
               QStringLiteral("/config/login?.src=auc\">ログイン</a>");
    return QStringLiteral("<span class=\"UserBar__name\">") + esc(v.id) +
           QStringLiteral("さん</span>");
}

// The page's own bid script. Its form counts only what is typed (input events, as keys make
// them): a value set from outside without them is an empty field to it. Its dialog is
// built at the click, with new element ids at every load.
const char16_t *kBidScript = uR"JS(
(function () {
  var cfg = /*CONFIG*/;
  var b = cfg.variant === 'b';
  function uid() { return (b ? 'k' : 'f') + Math.random().toString(36).slice(2, 10); }
  function el(tag, attrs, text) {
    var e = document.createElement(tag);
    for (var k in attrs || {}) e.setAttribute(k, attrs[k]);
    if (text !== undefined && text !== null) e.textContent = text;
    return e;
  }
  function yen(n) { return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ','); }
  var dialog = null;
  var state = null;
  function closeDialog() { if (dialog && dialog.parentNode) dialog.parentNode.removeChild(dialog); dialog = null; }
  function say(text) {
    var s = dialog && dialog.querySelector(b ? '[role=alert]' : '[role=status]');
    if (s) s.textContent = text;
  }
  function send(url, body) {
    var init = { method: 'POST', credentials: 'same-origin' };
    if (b) {
      var p = [];
      for (var k in body) p.push(encodeURIComponent(k) + '=' + encodeURIComponent(body[k]));
      init.headers = { 'Content-Type': 'application/x-www-form-urlencoded' };
      init.body = p.join('&');
    } else {
      init.headers = { 'Content-Type': 'application/json' };
      init.body = JSON.stringify(body);
    }
    return fetch(url, init).then(function (r) { return r.json(); });
  }
  function frame(title) {
    closeDialog();
    dialog = el(b ? 'section' : 'div', { role: 'dialog', 'aria-modal': 'true', 'class': b ? 'bdlg' : 'BidModal' });
    var h = el(b ? 'h3' : 'h2', { id: uid() }, title);
    dialog.setAttribute('aria-labelledby', h.id);
    dialog.appendChild(h);
    var shut = el('button', { type: 'button', 'aria-label': '閉じる', 'class': b ? 'x' : 'BidModal__close' }, '×');
    shut.addEventListener('click', closeDialog);
    dialog.appendChild(shut);
    return dialog;
  }
  function finish() {
    dialog.appendChild(b ? el('p', { role: 'alert' }) : el('div', { role: 'status', 'aria-live': 'polite' }));
    document.body.appendChild(dialog);
  }
  function field(label, onInput, value) {
    var id = uid();
    var input = el('input', { id: id, type: 'text', inputmode: 'numeric', autocomplete: 'off' });
    if (value) input.value = value;
    input.addEventListener('input', function (e) { onInput(e.target.value); });
    if (b) {
      var wrap = el('label', { 'class': 'fld' });
      wrap.appendChild(el('span', {}, label));
      wrap.appendChild(input);
      return wrap;
    }
    var row = el('div', { 'class': 'BidModal__row' });
    row.appendChild(el('label', { 'for': id }, label));
    row.appendChild(input);
    row.appendChild(el('span', {}, '円'));
    return row;
  }
  function openForm() {
    state = { price: '', quantity: '1', preview: null, busy: false };
    var d = frame('入札');
    if (!cfg.loggedIn) {
      d.appendChild(el('p', {}, '入札するにはログインしてください。'));
      d.appendChild(el('a', { href: cfg.loginUrl }, 'ログイン'));
      finish();
      return;
    }
    if (cfg.shouldSms) {
      d.appendChild(el('p', {}, '入札の前に、SMSで届く確認コードで本人確認をしてください。'));
      finish();
      return;
    }
    if (cfg.closed) {
      d.appendChild(el('p', {}, 'このオークションは終了しています。'));
      finish();
      return;
    }
    var form = b ? el('form', { 'class': 'bf' }) : d;
    form.appendChild(field(cfg.amountLabel, function (v) { state.price = v; }));
    if (cfg.quantity > 1)
      form.appendChild(field('数量', function (v) { state.quantity = v; }, '1'));
    if (b) {
      form.appendChild(el('input', { type: 'submit', value: '確認する' }));
      form.addEventListener('submit', function (e) { e.preventDefault(); preview(); });
      d.appendChild(form);
    } else {
      var go = el('button', { type: 'button', 'class': 'Button' }, '確認する');
      go.addEventListener('click', preview);
      d.appendChild(go);
    }
    finish();
  }
  function preview() {
    if (state.busy) return;
    state.busy = true;
    var amount = String(state.price).replace(/[,，\s]/g, '');
    var body = b ? { aid: cfg.id, bid: amount, qty: state.quantity, _crumb: cfg.crumb }
                 : { auctionId: cfg.id, price: amount, quantity: state.quantity, crumb: cfg.crumb };
    send(cfg.previewUrl, body).then(function (a) {
      state.busy = false;
      if (!a.ok) { say(a.message); return; }
      state.preview = a;
      confirmStep(a);
    }, function () { state.busy = false; say('通信に失敗しました。もう一度お試しください。'); });
  }
  function confirmStep(a) {
    var d = frame(b ? '確認' : '入札内容の確認');
    d.appendChild(el('p', {}, (b ? '金額 ' : '入札額：') + yen(a.price) + '円'));
    if (cfg.quantity > 1) d.appendChild(el('p', {}, '数量：' + a.quantity));
    var place = el('button', { type: 'button', 'class': b ? 'commit' : 'Button Button--primary' }, '入札する');
    place.addEventListener('click', function () {
      if (state.busy) return;
      state.busy = true;
      place.disabled = true;
      var body = b ? { aid: cfg.id, bid: a.price, qty: a.quantity, _crumb: cfg.crumb, t: a.token }
                   : { auctionId: cfg.id, price: a.price, quantity: a.quantity, crumb: cfg.crumb, token: a.token };
      send(cfg.placeUrl, body).then(function (r) {
        say(r.message);
        done();
      }, function () { say('通信に失敗しました。入札できたかどうかは商品ページでお確かめください。'); done(); });
    });
    d.appendChild(place);
    var back = el('button', { type: 'button' }, '戻る');
    back.addEventListener('click', openForm);
    d.appendChild(back);
    finish();
  }
  function done() {
    var close = el('button', { type: 'button' }, '閉じる');
    close.addEventListener('click', function () { location.reload(); });
    dialog.appendChild(close);
  }
  var opener = document.querySelector(b ? 'a.js-bid' : 'button[data-bid-open]');
  if (opener) opener.addEventListener('click', function (e) { e.preventDefault(); openForm(); });
})();
)JS";

} // namespace

QByteArray toUtf8Page(const QString &html)
{
    return html.toUtf8();
}

QString todayPreviewPath(const QString &variant)
{
    return variant == QLatin1String("b") ? QStringLiteral("/rpc/bidding/confirm")
                                         : QStringLiteral("/api/v1/bid/preview");
}

QString todayPlacePath(const QString &variant)
{
    return variant == QLatin1String("b") ? QStringLiteral("/rpc/bidding/commit")
                                         : QStringLiteral("/api/v1/bid/place");
}

QJsonObject todayItemJson(const Scenario &s, const Item &it, const Viewer &v, const QDateTime &now)
{
    const bool ended = it.ended(now);
    QJsonArray path;
    for (const Category &c : it.trail)
        path << QJsonObject{{QStringLiteral("id"), double(c.id)}, {QStringLiteral("name"), c.name}};
    const QDateTime start = it.end.addDays(-7);
    const bool extended = it.originalEnd.isValid() && it.end > it.originalEnd;
    QJsonObject o{
        {QStringLiteral("auctionId"), it.id},
        {QStringLiteral("title"), it.title},
        {QStringLiteral("auctionItemUrl"), canonical(s, it.id)},
        {QStringLiteral("price"), double(it.price)},
        {QStringLiteral("taxinPrice"), double(taxin(it.price, it.store))},
        {QStringLiteral("initPrice"), double(it.startPrice)},
        {QStringLiteral("taxinStartPrice"), double(taxin(it.startPrice, it.store))},
        {QStringLiteral("quantity"), it.quantity},
        {QStringLiteral("bids"), it.bids},
        {QStringLiteral("biddersNum"), int(it.maxBids.size())},
        {QStringLiteral("startTime"), isoJapan(start)},
        {QStringLiteral("endTime"), isoJapan(it.end)},
        {QStringLiteral("timeForUlt"),
         QJsonObject{{QStringLiteral("startTime"), double(start.toSecsSinceEpoch())},
                     {QStringLiteral("endTime"), double(it.end.toSecsSinceEpoch())}}},
        {QStringLiteral("formattedEndTime"), formattedEnd(it.end)},
        {QStringLiteral("leftTime"), double(qMax<qint64>(0, now.secsTo(it.end)))},
        {QStringLiteral("status"), it.cancelled ? QStringLiteral("cancel")
                                   : ended      ? QStringLiteral("closed")
                                                : QStringLiteral("open")},
        {QStringLiteral("isAutomaticExtension"), it.autoExtend},
        {QStringLiteral("isExtendedAuction"), extended},
        {QStringLiteral("isEarlyClosing"), it.earlyEnd},
        {QStringLiteral("highestBidders"),
         QJsonObject{{QStringLiteral("totalHighestBidders"), it.highBidder.isEmpty() ? 0 : 1},
                     {QStringLiteral("isMore"), false}}},
        {QStringLiteral("seller"), QJsonObject{{QStringLiteral("aucUserId"), sellerKeyOf(it)},
                                               {QStringLiteral("displayName"), it.seller},
                                               {QStringLiteral("isStore"), it.store}}},
        {QStringLiteral("category"), QJsonObject{{QStringLiteral("path"), path}}},
        {QStringLiteral("crumb"), v.crumb},
    };
    if (it.buyNow > 0) {
        o.insert(QStringLiteral("bidorbuy"), double(it.buyNow));
        o.insert(QStringLiteral("taxinBidorbuy"), double(taxin(it.buyNow, it.store)));
    }
    return o;
}

QString todayItemPage(const Scenario &s, const Item &it, const Viewer &v, const QDateTime &now)
{
    const bool ended = it.ended(now);
    const QString winner = it.winner(now);
    const bool isWinner = !v.id.isEmpty() && winner.compare(v.id, Qt::CaseInsensitive) == 0;
    const QJsonObject data = stateBlock(v, todayItemJson(s, it, v, now));
    const QDateTime endJapan = it.end.toTimeZone(japanTime());
    // The older script line: every value a string.
    const QJsonObject pageData{
        {QStringLiteral("navigation"),
         QJsonObject{
             {QStringLiteral("isLogin"),
              v.id.isEmpty() ? QStringLiteral("0") : QStringLiteral("1")},
             {QStringLiteral("isWinner"), isWinner ? QStringLiteral("1") : QStringLiteral("0")},
             {QStringLiteral("isSeller"), QStringLiteral("0")}}},
        {QStringLiteral("items"),
         QJsonObject{
             {QStringLiteral("productID"), it.id},
             {QStringLiteral("productName"), it.title},
             {QStringLiteral("price"), QString::number(it.price)},
             {QStringLiteral("quantity"), QString::number(it.quantity)},
             {QStringLiteral("bids"), QString::number(it.bids)},
             {QStringLiteral("starttime"),
              endJapan.addDays(-7).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
             {QStringLiteral("endtime"), endJapan.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
             {QStringLiteral("winPrice"),
              winner.isEmpty() ? QStringLiteral("0") : QString::number(it.price)},
             {QStringLiteral("isClosed"), ended ? QStringLiteral("1") : QStringLiteral("0")},
             {QStringLiteral("hasWinner"),
              winner.isEmpty() ? QStringLiteral("0") : QStringLiteral("1")}}}};
    const bool b = s.pageVariant == QLatin1String("b");
    const QString itemOrigin = origin(s, s.mainHost);
    const QJsonObject config{
        {QStringLiteral("id"), it.id},
        {QStringLiteral("crumb"), v.crumb},
        {QStringLiteral("variant"), b ? QStringLiteral("b") : QStringLiteral("a")},
        // A page the site has changed: the amount's field has another label.
        {QStringLiteral("amountLabel"), s.pageVariant == QLatin1String("changed")
                                            ? QStringLiteral("入札金額")
                                            : QStringLiteral("最高入札額")},
        {QStringLiteral("loggedIn"), !v.id.isEmpty()},
        {QStringLiteral("shouldSms"), v.shouldSms},
        {QStringLiteral("closed"), ended},
        {QStringLiteral("quantity"), it.quantity},
        {QStringLiteral("previewUrl"), todayPreviewPath(s.pageVariant)},
        {QStringLiteral("placeUrl"), todayPlacePath(s.pageVariant)},
        {QStringLiteral("loginUrl"),
         QString(origin(s, s.loginHost) + QStringLiteral("/config/login?.src=auc&.done=") +
                 QString::fromLatin1(QUrl::toPercentEncoding(canonical(s, it.id))))}};
    QString script = QString::fromUtf16(kBidScript);
    script.replace(QStringLiteral("/*CONFIG*/"), scriptJson(config));

    QString p = head(it.title + QStringLiteral(" - ヤフオク!"),
                     QStringLiteral("<script id=\"__NEXT_DATA__\" type=\"application/json\">") +
                         scriptJson(data) + QStringLiteral("</script><script>var pageData = ") +
                         scriptJson(pageData) + QStringLiteral(";</script>"));
    p += QStringLiteral("<body><header class=\"") +
         (b ? QStringLiteral("hd") : QStringLiteral("Header")) + QStringLiteral("\">") +
         userBar(v, s) + QStringLiteral("</header>\n<main>");
    QString crumbs;
    for (const Category &c : it.trail)
        crumbs += QStringLiteral("<a href=\"") + itemOrigin + QStringLiteral("/category/list/") +
                  QString::number(c.id) + QStringLiteral("/\">") + esc(c.name) +
                  QStringLiteral("</a> ");
    p += QStringLiteral("<nav class=\"") +
         (b ? QStringLiteral("tr") : QStringLiteral("Breadcrumb")) + QStringLiteral("\">") +
         crumbs + QStringLiteral("</nav>\n");
    p += QStringLiteral("<h1 class=\"") +
         (b ? QStringLiteral("ttl") : QStringLiteral("ProductTitle__text")) +
         QStringLiteral("\">") + esc(it.title) + QStringLiteral("</h1>\n");
    p += QStringLiteral("<div class=\"") + (b ? QStringLiteral("prc") : QStringLiteral("Price")) +
         QStringLiteral("\"><span class=\"Price__value\">") + yen(it.price) + QStringLiteral("円") +
         (it.store
              ? QStringLiteral("（税込 ") + yen(taxin(it.price, it.store)) + QStringLiteral("円）")
              : QStringLiteral("（税 0 円）")) +
         QStringLiteral("</span></div>\n");
    p += QStringLiteral("<ul class=\"Count\"><li>入札件数 <span>") + QString::number(it.bids) +
         QStringLiteral("</span></li><li>終了日時 <span class=\"CountDown__time\">") +
         formattedEnd(it.end) + QStringLiteral("</span></li></ul>\n");
    if (ended)
        p += QStringLiteral("<p class=\"ClosedHeader\">このオークションは終了しています</p>\n");
    if (isWinner)
        p += QStringLiteral(
            "<p class=\"WinnerNotice\">おめでとうございます!! あなたが落札しました。</p>\n");
    if (!ended) {
        p +=
            b ? QStringLiteral("<div class=\"act\"><a href=\"#bid\" class=\"js-bid\" "
                               "role=\"button\">入札する</a></div>\n")
              : QStringLiteral("<div class=\"Button__wrap\"><button type=\"button\" class=\"Button "
                               "Button--bid\" data-bid-open=\"1\">入札する</button></div>\n");
    }
    p += QStringLiteral("<section class=\"ProductExplanation\"><h2>商品説明</h2><div>") +
         (it.description.isEmpty() ? QStringLiteral("ご覧いただきありがとうございます。")
                                   : esc(it.description)) +
         QStringLiteral("</div></section>\n<p><a href=\"") + itemOrigin +
         QStringLiteral("/seller/") + sellerKeyOf(it) + QStringLiteral("\">出品者 ") +
         esc(it.seller) + QStringLiteral("</a></p>\n</main>\n<script>") + script +
         QStringLiteral("</script>\n</body></html>\n");
    return p;
}

QString todayTopPage(const Scenario &s, const Viewer &v)
{
    return head(QStringLiteral("ヤフオク! - 日本最大級のネットオークション"),
                QStringLiteral("<script id=\"__NEXT_DATA__\" type=\"application/json\">") +
                    scriptJson(stateBlock(v, QJsonObject())) + QStringLiteral("</script>")) +
           QStringLiteral("<body><header>") + userBar(v, s) +
           QStringLiteral("</header><main><p>シミュレーションのオークションサイト（今のページ）</p>"
                          "</main></body></html>\n");
}

QString todayListPage(const Scenario &s, const QString &heading, const QList<const Item *> &rows,
                      const QString &nextPageUrl)
{
    QString list;
    int n = 0;
    for (const Item *it : rows) {
        // Some rows link from the site's root, as pages often do.
        const QString href =
            (n++ % 2 == 0) ? canonical(s, it->id) : QStringLiteral("/jp/auction/") + it->id;
        list += QStringLiteral("<li class=\"acMdWatchListBox\"><a href=\"") + href +
                QStringLiteral("\"><img src=\"/i/") + it->id +
                QStringLiteral(".jpg\" alt=\"\"></a>"
                               "<a href=\"") +
                href + QStringLiteral("\">") + esc(it->title) + QStringLiteral("</a><span>現在 ") +
                yen(it->price) + QStringLiteral("円</span></li>\n");
    }
    QString next;
    if (!nextPageUrl.isEmpty())
        next = QStringLiteral("<a class=\"Pager__next\" href=\"") + esc(nextPageUrl) +
               QStringLiteral("\">次へ</a>");
    return head(heading + QStringLiteral(" - ヤフオク!")) + QStringLiteral("<body><h1>") +
           esc(heading) + QStringLiteral("</h1><ul class=\"WatchList\">\n") + list +
           QStringLiteral("</ul>") + next + QStringLiteral("</body></html>\n");
}

QString todayResultPage(const Scenario &s, const QString &heading, int total, int buyNowTotal,
                        const QList<const Item *> &rows)
{
    QString list;
    for (const Item *it : rows) {
        QString path;
        for (const Category &c : it->trail)
            path += (path.isEmpty() ? QString() : QStringLiteral(",")) + QString::number(c.id);
        const QString url = canonical(s, it->id);
        list +=
            QStringLiteral(
                "<li class=\"Product\"><div class=\"Product__detail\"><h3 class=\"Product__title\">"
                "<a class=\"Product__titleLink\" data-auction-id=\"") +
            it->id + QStringLiteral("\" href=\"") + url + QStringLiteral("\">") + esc(it->title) +
            QStringLiteral("</a></h3><span class=\"Product__priceValue\">") + yen(it->price) +
            QStringLiteral("円</span><div class=\"Product__bonus\" data-auction-id=\"") + it->id +
            QStringLiteral("\" data-auction-endtime=\"") +
            QString::number(it->end.toSecsSinceEpoch()) +
            QStringLiteral("\" data-auction-price=\"") + QString::number(it->price) +
            QStringLiteral("\" data-auction-buynowprice=\"") + QString::number(it->buyNow) +
            QStringLiteral("\" data-auction-startprice=\"") + QString::number(it->startPrice) +
            QStringLiteral("\" data-auction-categoryidpath=\"") + path +
            QStringLiteral("\"></div></div></li>\n");
    }
    return head(heading + QStringLiteral(" - ヤフオク!")) +
           QStringLiteral("<body><div class=\"Tab\"><ul><li class=\"Tab__item\"><a href=\"#\">"
                          "<span class=\"Tab__text\">即決</span><span class=\"Tab__subText\">") +
           QString::number(buyNowTotal) +
           QStringLiteral(
               "件</span></a></li><li class=\"Tab__item Tab__item--current\"><a href=\"#\">"
               "<span class=\"Tab__text\">すべて</span><span class=\"Tab__subText\">") +
           QString::number(total) + QStringLiteral("件</span></a></li></ul></div>\n<h1>") +
           esc(heading) + QStringLiteral("</h1><ul class=\"Products__items\">\n") + list +
           QStringLiteral("</ul></body></html>\n");
}

QString todaySellerPage(const Item &item)
{
    return head(item.seller + QStringLiteral(" さんの出品 - ヤフオク!")) +
           QStringLiteral("<body><h1>") + esc(item.seller) +
           QStringLiteral("</h1></body></html>\n");
}

QString todayNotFoundPage()
{
    return head(QStringLiteral("ヤフオク!")) +
           QStringLiteral(
               "<body><p>このページは存在しないか、削除されました。</p></body></html>\n");
}

QString todayAnswerText(const QString &variant, BidOutcome outcome, const Item &item)
{
    if (variant == QLatin1String("b")) {
        // Wording nobody has taught the program: only the item's data tells the outcome.
        switch (outcome) {
        case BidOutcome::Ended:
            return QStringLiteral("受付できません（E-410）");
        default:
            return QStringLiteral("処理しました（受付番号 B-") +
                   QString::number(item.bids * 7919 % 100000) + QStringLiteral("）");
        }
    }
    switch (outcome) {
    case BidOutcome::Accepted:
        return QStringLiteral("入札が完了しました。あなたが現在の最高額入札者です。");
    case BidOutcome::Outbid:
        return QStringLiteral("入札は受け付けられましたが、ほかの入札者の自動入札額を下回りました。"
                              "現在の価格は") +
               yen(item.price) + QStringLiteral("円です。");
    case BidOutcome::TooLow:
        return QStringLiteral("入札額が低すぎます。") + yen(item.minimumBid()) +
               QStringLiteral("円以上で入札してください。");
    case BidOutcome::BelowReserve:
        return QStringLiteral("入札額が最低落札価格よりも低い金額です。");
    case BidOutcome::BoughtOutright:
        return QStringLiteral("おめでとうございます!! 落札しました。");
    case BidOutcome::Ended:
        return QStringLiteral("このオークションは終了しています。");
    }
    return {};
}

} // namespace sim
