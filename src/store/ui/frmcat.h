#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace sw {

class CategoryNames;
class Prompter;

// The category editor: names of the user categories 1 to 9, each rename saved at once.
class frmCAT : public QDialog
{
    Q_OBJECT
public:
    frmCAT(CategoryNames &names, Prompter &prompter, QWidget *parent = nullptr);

    void renameSelected();

private:
    CategoryNames &m_names;
    Prompter &m_prompter;
    QListWidget *m_lstCAT;
};

} // namespace sw
