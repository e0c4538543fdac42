#include "tips.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>

namespace sw {

QString tipsFileName()
{
    return QStringLiteral("TIPOFDAY.TXT");
}

QString missingTipsText()
{
    return QStringLiteral("ﾌｧｲﾙ ") + tipsFileName() +
           QStringLiteral(" が見つかりませんでした。 \n\n") +
           QStringLiteral(
               "「メモ帳」を使用して、1 行に 1 つのﾜﾝﾎﾟｲﾝﾄという形式でﾃｷｽﾄ ﾌｧｲﾙを作成し、") +
           tipsFileName() + QStringLiteral(" という名前で保存してください。 ") +
           QStringLiteral("その後、そのﾌｧｲﾙをｱﾌﾟﾘｹｰｼｮﾝと同じﾌｫﾙﾀﾞに保存してください。");
}

std::optional<QStringList> readTips(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = f.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder sjis("Shift_JIS");
        text = sjis.decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    // A line break at the very end closes the last line; it starts no new one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList tipsFileCandidates(const QString &dataDir)
{
    const QString app = QCoreApplication::applicationDirPath();
    return {dataDir + QLatin1Char('/') + tipsFileName(), app + QLatin1Char('/') + tipsFileName(),
            app + QStringLiteral("/../share/snipewell/") + tipsFileName(),
            QStringLiteral(SNIPEWELL_DATADIR "/") + tipsFileName()};
}

} // namespace sw
