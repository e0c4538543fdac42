#include "frmcat.h"

#include "categories.h"
#include "prompter.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace sw {

frmCAT::frmCAT(CategoryNames &names, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_names(names), m_prompter(prompter), m_lstCAT(new QListWidget(this))
{
    setObjectName(QStringLiteral("frmCAT"));
    setWindowTitle(QStringLiteral("カテゴリの編集"));
    setModal(true);
    m_lstCAT->setObjectName(QStringLiteral("lstCAT"));
    for (int n = 1; n <= 9; ++n)
        m_lstCAT->addItem(m_names.name(n));
    m_lstCAT->setCurrentRow(0);

    auto *edit = new QPushButton(QStringLiteral("編集"), this);
    edit->setObjectName(QStringLiteral("CancelButton"));
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(edit);
    buttons->addStretch();
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_lstCAT);
    layout->addLayout(buttons);

    connect(edit, &QPushButton::clicked, this, &frmCAT::renameSelected);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_lstCAT, &QListWidget::itemDoubleClicked, this, &frmCAT::renameSelected);
    resize(320, 260);
}

void frmCAT::renameSelected()
{
    const int row = m_lstCAT->currentRow();
    if (row < 0)
        return;
    QListWidgetItem *item = m_lstCAT->item(row);
    const std::optional<QString> answer =
        m_prompter.input(QStringLiteral("カテゴリー名の変更"), item->text());
    if (!answer || answer->isEmpty())
        return;
    item->setText(*answer);
    if (!m_names.rename(row + 1, *answer)) {
        m_prompter.message(QStringLiteral("カテゴリー名を設定ファイルに保存できませんでした。"
                                          "この名前はプログラムを終了するまで有効です。"));
    }
}

} // namespace sw
