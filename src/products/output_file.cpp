#include "products/output_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "driver/signals.h"

namespace {

void Remove_temporary(const ProductFile& product)
{
    EndingSignalsHeld held;
    unlink(product.temporary.c_str());
    Forget_temporary_product();
}

}  // namespace

std::string product_folder;

std::string Product_path(const std::string& name)
{
    return product_folder.empty() ? name : product_folder + "/" + name;
}

bool Open_product(const std::string& name, ProductFile& product)
{
    product.name = name;
    product.stream = nullptr;
    struct stat status;
    if (stat(name.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) return false;
        if (access(name.c_str(), W_OK) != 0) return false;
    }

    std::string pattern = name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int descriptor;
    {
        // An interruption from here on removes the temporary file.
        EndingSignalsHeld held;
        descriptor = mkstemp(buffer.data());
        if (descriptor < 0) return false;
        Keep_temporary_product(buffer.data());
    }
    product.temporary = buffer.data();

    // mkstemp creates the file for its owner only; give it the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);

    product.stream = fdopen(descriptor, "wb");
    if (product.stream == nullptr) {
        close(descriptor);
        Remove_temporary(product);
        return false;
    }
    return true;
}

bool Finish_product(ProductFile& product)
{
    bool complete = std::fflush(product.stream) == 0 && !std::ferror(product.stream);
    complete = std::fclose(product.stream) == 0 && complete;
    product.stream = nullptr;
    if (complete) {
        EndingSignalsHeld held;
        if (std::rename(product.temporary.c_str(), product.name.c_str()) == 0) {
            Forget_temporary_product();
            return true;
        }
    }
    Remove_temporary(product);
    return false;
}
