#include "widgetprompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <cstdio>

namespace sw {

namespace {
const QString kTitle = QStringLiteral("Snipewell");
}

bool WidgetPrompter::loadQtJapanese(QCoreApplication &app)
{
    auto *qt = new QTranslator(&app);
    if (!qt->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                  QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    app.installTranslator(qt);
    return true;
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

int WidgetPrompter::choose(const QString &text, const QStringList &buttons, int defaultIndex,
                           int escape)
{
    if (!interactive()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return escape;
    }
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::NoButton, m_parent);
    QList<QPushButton *> made;
    for (int i = 0; i < buttons.size(); ++i)
        made << box.addButton(buttons[i],
                              i == escape ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (defaultIndex >= 0 && defaultIndex < made.size())
        box.setDefaultButton(made[defaultIndex]);
    if (escape >= 0 && escape < made.size())
        box.setEscapeButton(made[escape]);
    box.exec();
    const int chosen = int(made.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
    return chosen < 0 ? escape : chosen;
}

void WidgetPrompter::beep()
{
    QApplication::beep();
}

} // namespace sw
