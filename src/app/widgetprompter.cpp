#include "widgetprompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>

namespace sw {

namespace {
const QString kTitle = QStringLiteral("Snipewell");
}

bool WidgetPrompter::interactive()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void WidgetPrompter::message(const QString &text)
{
    if (!interactive()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    QMessageBox::information(m_parent, kTitle, text);
}

std::optional<QString> WidgetPrompter::input(const QString &prompt, const QString &defaultAnswer)
{
    if (!interactive())
        return std::nullopt;
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_parent, kTitle, prompt, QLineEdit::Normal, defaultAnswer, &ok);
    if (!ok)
        return std::nullopt;
    return answer;
}

bool WidgetPrompter::question(const QString &text, bool defaultYes)
{
    if (!interactive()) {
        // Nobody can answer: nothing the user did not confirm is done.
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return false;
    }
    return QMessageBox::question(m_parent, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 defaultYes ? QMessageBox::Yes : QMessageBox::No) ==
           QMessageBox::Yes;
}

void WidgetPrompter::beep()
{
    QApplication::beep();
}

} // namespace sw
