#include "products/data_table.h"

#include <ostream>

#include "base/console.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "measure/beam_signal.h"
#include "products/table_columns.h"

namespace {

Failure Report_failure(const Failure& failure)
{
    Console() << "Can't write to '" << data_table_name << "' - file" << std::endl;
    Advice() << Product_failure_advice(failure) << std::endl;
    return failure;
}

}  // namespace

Failure Write_green_data(const GreenData& data)
{
    ProductFile table;
    if (Failure failure = Open_product(Product_path(data_table_name), table)) return Report_failure(failure);
    Report_scaling_coefficient(data.coefficient, data.row90);
    const std::string header = Header_line(table_columns.size());
    Write_product(table, header.data(), header.size());
    for (const TableRow& row : data.rows) {
        Print_table_cells(table.stream, row);
        std::fputc('\n', table.stream);
    }
    if (Failure failure = Finish_product(table)) return Report_failure(failure);
    return {};
}
