#include "dialog1.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace sw {

Dialog1::Dialog1(QWidget *parent) : QDialog(parent), m_text(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("Dialog1"));
    setWindowTitle(QStringLiteral("情報"));
    setModal(false);
    m_text->setObjectName(QStringLiteral("Text1"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    resize(360, 200);
}

void Dialog1::setText(const QString &text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(shown);
}

QString Dialog1::text() const
{
    return m_text->toPlainText();
}

void Dialog1::showModeless()
{
    show();
    raise();
}

} // namespace sw
