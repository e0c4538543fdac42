#pragma once

#include "appcontext.h"

#include <QWidget>

#include <QCoro/QCoroTask>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QToolBar;

namespace sw {

class PageFetcher;

// The search window "商品検索": a keyword search or a category listing whose items go
// into the item list.
class frmSerch : public QWidget
{
    Q_OBJECT
public:
    explicit frmSerch(AppContext &ctx, QWidget *parent = nullptr);
    ~frmSerch() override;

    // Fills the category lists from tblycat, reading the site's list when it is empty.
    QCoro::Task<> readcat();
    QCoro::Task<> mnuGetCat();
    // Makes sure the category is stored and listed, and selects it.
    void addcat(const QString &name, qint64 id);

    // "go" and "stop".
    QCoro::Task<> go();
    void stop();

    bool running() const { return m_running; }
    bool stopFlag() const { return m_stop; }
    QString categoryIdSelected() const;

    QLineEdit *keyword() const { return m_text1; }
    QComboBox *categoryNames() const { return m_names; }
    QComboBox *categoryIds() const { return m_ids; }
    QLineEdit *priceBox(int i) const { return m_yen[i]; }
    QCheckBox *condition(int i) const { return m_check[i]; }
    QListWidget *searchLog() const { return m_list1; }
    QLabel *examinedLabel() const { return m_lbllog0; }
    QLabel *importedLabel() const { return m_lbllog1; }
    QLabel *pageLabel() const { return m_label2; }
    QToolBar *toolbar() const { return m_toolbar; }

signals:
    // readcat() has finished (the lists hold what could be read).
    void categoriesLoaded();
    // Items were stored: the item list should show them.
    void itemsImported();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void loadSettings();
    void saveSettings();

    AppContext &m_ctx;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    PageFetcher *m_fetcher;
    QLineEdit *m_text1;
    QComboBox *m_names;
    QComboBox *m_ids;
    QLineEdit *m_yen[2];
    QCheckBox *m_check[2];
    QListWidget *m_list1;
    QLabel *m_lbllog0;
    QLabel *m_lbllog1;
    QLabel *m_label2;
    QToolBar *m_toolbar;
    bool m_stop = false;
    bool m_running = false;
};

} // namespace sw
