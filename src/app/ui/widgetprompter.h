#pragma once

#include "prompter.h"

class QCoreApplication;
class QWidget;

namespace sw {

// Message and input boxes for real. On a display-less platform (offscreen, minimal) no
// box could ever be answered, so messages go to standard error and inputs are cancelled.
class WidgetPrompter : public Prompter
{
public:
    explicit WidgetPrompter(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    void message(const QString &text) override;
    std::optional<QString> input(const QString &prompt, const QString &defaultAnswer) override;
    bool question(const QString &text, bool defaultYes) override;
    int choose(const QString &text, const QStringList &buttons, int defaultIndex,
               int escape) override;
    void beep() override;

    // The window a box belongs to: the one the user is working in, so that answering it
    // leaves the user there (a bid window stays in front); the frame when none is active.
    QWidget *boxParent() const;

    static bool interactive();
    // Qt's own texts (standard buttons, the input box, the file dialogs) in Japanese, as the
    // rest of the program speaks: Debian's qt6-translations-l10n. False when not installed.
    static bool loadQtJapanese(QCoreApplication &app);

private:
    QWidget *m_parent;
};

} // namespace sw
