#include "products/table_columns.h"

const std::vector<std::string> table_columns = {
    "x(pixel)",     "y(pixel)",       "r(pixel)",       "z.angle(deg)",
    "s.height(m)",  "s.distance(m)",  "s.angle(deg)",   "signal(arb.u.)",
    "median(arb.u.)", "median*sin(s.angle)(arb.u.)"};

std::string Header_line(size_t first, const std::vector<std::string>& more)
{
    std::string line;
    for (size_t i = 0; i < first && i < table_columns.size(); ++i) line += (i ? "\t" : "") + table_columns[i];
    for (const std::string& name : more) line += (line.empty() ? "" : "\t") + name;
    return line + "\n";
}

int Column_number(const std::string& name, size_t first, const std::vector<std::string>& more)
{
    for (size_t i = 0; i < first && i < table_columns.size(); ++i) {
        if (table_columns[i] == name) return int(i) + 1;
    }
    for (size_t i = 0; i < more.size(); ++i) {
        if (more[i] == name) return int(first + i) + 1;
    }
    return 0;
}
