#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace sw {

// The result window "情報": bid outcomes and change reports, shown without blocking.
class Dialog1 : public QDialog
{
    Q_OBJECT
public:
    explicit Dialog1(QWidget *parent = nullptr);
    void setText(const QString &text);
    QString text() const;
    void showModeless();

private:
    QPlainTextEdit *m_text;
};

} // namespace sw
