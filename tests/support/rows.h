#pragma once

// A data-driven table as rows of one struct: the row's first member names it, the others are
// its columns, so each case reads as one line. Fill the table with addRows({...}) in the _data
// function and take the row with QFETCH(Type, row).
#include <QTest>

#include <initializer_list>

template <typename Row> void addRows(std::initializer_list<Row> rows)
{
    QTest::addColumn<Row>("row");
    for (const Row &r : rows)
        QTest::newRow(r.name) << r;
}
