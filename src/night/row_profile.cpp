#include "night/row_profile.h"

#include "base/product_file.h"
#include "products/table_columns.h"

const std::vector<std::string> row_profile_columns = {
    "net(DN)",          "sigma.net(DN)",       "sigma.signal(arb.u.)", "sigma.median(arb.u.)",
    "background(DN)", "sigma.background(DN)", "flags", "dz(deg)", "beta.rel(arb.u.)", "sigma.beta.rel(arb.u.)",
    "beta.mol.rel(arb.u.)", "ratio", "sigma.ratio", "sigma.net.common(DN)"};

Failure Write_row_profile(const std::string& name, const std::vector<TableRow>& rows,
                          const std::vector<RowUncertainty>& sigmas,
                          const std::vector<RowScattering>& scattering)
{
    ProductFile product;
    if (Failure failure = Open_product(name, product)) return failure;
    const std::string header = Header_line(table_columns.size(), row_profile_columns);
    Write_product(product, header.data(), header.size());
    for (size_t k = 0; k < rows.size() && k < sigmas.size(); ++k) {
        const RowUncertainty& u = sigmas[k];
        Print_table_cells(product.stream, rows[k]);
        std::fprintf(product.stream, "\t%g\t%g\t%g\t%g\t%g\t%g\t%s", double{u.net}, u.sigma_net, u.sigma_signal,
                     u.sigma_median, double{u.background}, u.sigma_background, Flags_text(u));
        if (k < scattering.size()) {
            const RowScattering& b = scattering[k];
            std::fprintf(product.stream, "\t%g\t%g\t%g\t%g\t%g\t%g", b.dz, b.beta, b.sigma_beta,
                         b.beta_mol, b.ratio, b.sigma_ratio);
        } else {
            std::fprintf(product.stream, "\tnan\tnan\tnan\tnan\tnan\tnan");
        }
        std::fprintf(product.stream, "\t%g\n", u.sigma_net_common);
    }
    return Finish_product(product);
}
