// The columns of the tab-separated tables: the data table's ten, whose first seven
// (the row's position and geometry) every table of the night repeats, their names as
// the header line gives them, and the way each cell is printed. Every table writer
// and every plot that reads a table by column number takes them from here.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The data table's columns, in order; the first `geometry_columns` of them are the
// row's position and geometry.
extern const std::vector<std::string> table_columns;
constexpr size_t geometry_columns = 7;

// The header line (with its line feed) of a table whose columns are the first
// `first` of `table_columns` followed by `more`.
std::string Header_line(size_t first, const std::vector<std::string>& more = {});

// The 1-based number of column `name` in the table of the first `first` of
// `table_columns` followed by `more`, as gnuplot counts them; 0 when it has none.
int Column_number(const std::string& name, size_t first, const std::vector<std::string>& more = {});

// Prints the geometry cells of `row` (any row with the members x, y, r, theta,
// height, distance and alpha), tab-separated, without a tab after the last.
template <typename Row>
void Print_geometry_cells(std::FILE* file, const Row& row)
{
    std::fprintf(file, "%d\t%d\t%g\t%g\t%g\t%g\t%g", row.x, row.y, double{row.r}, double{row.theta},
                 double{row.height}, double{row.distance}, double{row.alpha});
}

// Prints the ten cells of a data table row (a TableRow), tab-separated.
template <typename Row>
void Print_table_cells(std::FILE* file, const Row& row)
{
    Print_geometry_cells(file, row);
    std::fprintf(file, "\t%g\t%g\t%g", double{row.signal}, double{row.median}, double{row.median_sin});
}
