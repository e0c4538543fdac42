#include "widgetprompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTranslator>

#include <cstdio>

namespace sw {

namespace {
const QString kTitle = QStringLiteral("Snipewell");

// A box belongs to the window the user is in, and that window may close while the box
// waits (a bid window whose item was deleted) and take the box with it: the box lives on
// the heap and is deleted here only if it is still there.
struct Box
{
    QPointer<QMessageBox> box;
    explicit Box(QMessageBox *b) : box(b) {}
    ~Box() { delete box; }
    Box(const Box &) = delete;
    Box &operator=(const Box &) = delete;
};
} // namespace

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

QWidget *WidgetPrompter::boxParent() const
{
    QWidget *active = QApplication::activeWindow();
    return active && active->isVisible() ? active : m_parent;
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
    Box b(new QMessageBox(QMessageBox::Information, kTitle, text, QMessageBox::Ok, boxParent()));
    b.box->exec();
}

std::optional<QString> WidgetPrompter::input(const QString &prompt, const QString &defaultAnswer)
{
    if (!interactive())
        return std::nullopt;
    bool ok = false;
    const QString answer =
        QInputDialog::getText(boxParent(), kTitle, prompt, QLineEdit::Normal, defaultAnswer, &ok);
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
    Box b(new QMessageBox(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                          boxParent()));
    b.box->setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    const int answer = b.box->exec();
    return b.box && answer == QMessageBox::Yes;
}

int WidgetPrompter::choose(const QString &text, const QStringList &buttons, int defaultIndex,
                           int escape)
{
    if (!interactive()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return escape;
    }
    Box b(new QMessageBox(QMessageBox::Question, kTitle, text, QMessageBox::NoButton, boxParent()));
    QList<QPushButton *> made;
    for (int i = 0; i < buttons.size(); ++i)
        made << b.box->addButton(buttons[i],
                                 i == escape ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (defaultIndex >= 0 && defaultIndex < made.size())
        b.box->setDefaultButton(made[defaultIndex]);
    if (escape >= 0 && escape < made.size())
        b.box->setEscapeButton(made[escape]);
    b.box->exec();
    if (!b.box)
        return escape;
    const int chosen = int(made.indexOf(qobject_cast<QPushButton *>(b.box->clickedButton())));
    return chosen < 0 ? escape : chosen;
}

void WidgetPrompter::beep()
{
    QApplication::beep();
}

} // namespace sw
