// How long does the item list take to show a filter's result with 5,000 items?
// Prints the time from the filter click to the repainted grid, for each filter.
#include "bidhost.h"
#include "bidwindows.h"
#include "frmmain.h"
#include "itemlistmodel.h"
#include "testapp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace sw;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestApp t;
    const QDateTime now = QDateTime::currentDateTime();
    t.db.connection().transaction();
    for (int i = 0; i < 5000; ++i) {
        ItemRecord r;
        r.itemid = QStringLiteral("x") + QString::number(i);
        r.Itemname = QStringLiteral("商品 ") + QString::number(i);
        r.Serverid = QString::number(1 + i % 9);
        r.ItemYenNow = 100 * (i % 500);
        r.SaikougakuShaid = QStringLiteral("bidder") + QString::number(i % 50);
        r.enddate = now.addSecs((i - 1000) * 300);
        t.db.upsertItem(r);
        t.db.saveUserColumns(i + 1, (i % 3) * 1000, QString::number(i % 10), i % 2, 0);
    }
    t.db.connection().commit();
    BidHost host(t.ctx);
    BidWindows windows(t.ctx, host, nullptr, nullptr);
    frmMain w(t.ctx, windows);
    w.resize(1000, 700);
    w.show();
    QApplication::processEvents();

    auto measure = [&](const char *name, QToolButton *button) {
        std::vector<double> ms;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            timer.start();
            button->click();
            w.grid()->viewport()->repaint();
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-16s rows=%5d median_ms=%.1f max_ms=%.1f\n", name, w.model()->rowCount(),
                    ms[ms.size() / 2], ms.back());
    };
    measure("running-only", w.filterButton(0));
    measure("limits-set", w.filterButton(1));
    measure("won", w.filterButton(2));
    return 0;
}
