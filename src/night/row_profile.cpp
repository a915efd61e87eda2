#include "night/row_profile.h"

#include "base/product_file.h"
#include "products/table_columns.h"

const std::vector<std::string> row_profile_columns = {
    "net(DN)",          "sigma.net(DN)",       "sigma.signal(arb.u.)", "sigma.median(arb.u.)",
    "background(DN)", "sigma.background(DN)", "flags"};

Failure Write_row_profile(const std::string& name, const std::vector<TableRow>& rows,
                          const std::vector<RowUncertainty>& sigmas)
{
    ProductFile product;
    if (Failure failure = Open_product(name, product)) return failure;
    const std::string header = Header_line(table_columns.size(), row_profile_columns);
    Write_product(product, header.data(), header.size());
    for (size_t k = 0; k < rows.size() && k < sigmas.size(); ++k) {
        const RowUncertainty& u = sigmas[k];
        Print_table_cells(product.stream, rows[k]);
        std::fprintf(product.stream, "\t%g\t%g\t%g\t%g\t%g\t%g\t%s\n", double{u.net}, u.sigma_net, u.sigma_signal,
                     u.sigma_median, double{u.background}, u.sigma_background, Flags_text(u));
    }
    return Finish_product(product);
}
