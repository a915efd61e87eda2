#include "base/product_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "base/run_codes.h"
#include "base/signals.h"

namespace {

void Remove_temporary(const ProductFile& product)
{
    EndingSignalsHeld held;
    unlink(product.temporary.c_str());
    Forget_temporary_product();
}

// The files the run reads, by device and inode: never a product's place.
std::vector<std::pair<dev_t, ino_t>> protected_inputs;

Failure Refuse(ProductFile& product, int error)
{
    if (product.error == 0) product.error = error != 0 ? error : EIO;
    return Failure{exit_product_not_written, "Can't write '" + product.name + "'", product.error};
}

}  // namespace

std::string product_folder;

std::string Product_path(const std::string& name)
{
    return product_folder.empty() ? name : product_folder + "/" + name;
}

void Protect_input(const std::string& name)
{
    struct stat status;
    if (stat(name.c_str(), &status) == 0) protected_inputs.emplace_back(status.st_dev, status.st_ino);
}

bool Is_protected_input(const std::string& name)
{
    struct stat status;
    if (stat(name.c_str(), &status) != 0) return false;
    for (const auto& [device, inode] : protected_inputs) {
        if (status.st_dev == device && status.st_ino == inode) return true;
    }
    return false;
}

void Give_usual_permissions(int descriptor)
{
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
}

Failure Open_product(const std::string& name, ProductFile& product)
{
    product.name = name;
    product.stream = nullptr;
    product.error = 0;
    struct stat status;
    if (stat(name.c_str(), &status) == 0) {
        // Something other than a file in the product's place: a folder, a device.
        if (!S_ISREG(status.st_mode)) return Refuse(product, S_ISDIR(status.st_mode) ? EISDIR : EEXIST);
        if (Is_protected_input(name)) {
            return Failure{exit_product_not_written, "Can't write '" + name + "': it is one of the input files"};
        }
        if (access(name.c_str(), W_OK) != 0) return Refuse(product, errno);
    }

    std::string pattern = name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int descriptor;
    {
        // An interruption from here on removes the temporary file.
        EndingSignalsHeld held;
        descriptor = mkstemp(buffer.data());
        if (descriptor < 0) return Refuse(product, errno);
        Keep_temporary_product(buffer.data());
    }
    product.temporary = buffer.data();

    Give_usual_permissions(descriptor);

    product.stream = fdopen(descriptor, "wb");
    if (product.stream == nullptr) {
        const int error = errno;
        close(descriptor);
        Remove_temporary(product);
        return Refuse(product, error);
    }
    return {};
}

void Write_product(ProductFile& product, const void* data, size_t bytes)
{
    if (std::fwrite(data, 1, bytes, product.stream) != bytes && product.error == 0) {
        product.error = errno != 0 ? errno : EIO;
    }
}

Failure Finish_product(ProductFile& product)
{
    // A write that failed on the way left the stream's error flag, and its reason when
    // it went through Write_product; the first reason found is the one kept.
    bool failed = product.error != 0;
    auto failed_with = [&](int error) {
        failed = true;
        if (product.error == 0) product.error = error;
    };
    if (std::ferror(product.stream)) failed_with(errno);
    if (std::fflush(product.stream) != 0) failed_with(errno);
    if (std::fclose(product.stream) != 0) failed_with(errno);
    product.stream = nullptr;
    if (!failed) {
        EndingSignalsHeld held;
        if (std::rename(product.temporary.c_str(), product.name.c_str()) == 0) {
            Forget_temporary_product();
            return {};
        }
        failed_with(errno);
    }
    Remove_temporary(product);
    return Refuse(product, product.error);
}

void Abandon_product(ProductFile& product)
{
    if (product.stream != nullptr) std::fclose(product.stream);
    product.stream = nullptr;
    Remove_temporary(product);
}

Failure Write_product_file(const std::string& name, const std::string& bytes)
{
    ProductFile product;
    if (Failure failure = Open_product(name, product)) return failure;
    Write_product(product, bytes.data(), bytes.size());
    return Finish_product(product);
}

std::string Product_failure_advice(const Failure& failure)
{
    std::string advice;
    switch (failure.error) {
    case EACCES:
    case EPERM:
    case EROFS:
        advice = " (run tavrolin in a folder you can write to, or allow writing there)";
        break;
    case ENOSPC:
    case EDQUOT:
        advice = " (free some space: the corrected picture of a whole frame takes some 54 MB)";
        break;
    case EFBIG:
        advice = " (a limit on the file size, see 'ulimit -f', is below the product's size)";
        break;
    case EISDIR:
    case EEXIST:
        advice = " (something that is not a file stands in the product's place: move it away)";
        break;
    default:
        break;
    }
    return std::string("The system's reason: ") + std::strerror(failure.error) + advice;
}
