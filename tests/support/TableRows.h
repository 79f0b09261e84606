#pragma once

#include <QTest>

// The column "row" of a data-driven test, and what adds one row to it, named after the row's name.
template <class Row> auto addRow()
{
    QTest::addColumn<Row>("row");
    return [](const Row& row) { QTest::newRow(row.name) << row; };
}
