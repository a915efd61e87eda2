// Writing a product file safely: the data go to a temporary file in the same folder,
// which replaces the product only once it is complete, so that a failed or
// interrupted run never leaves a truncated product where a complete one stood.
#pragma once

#include <cstdio>
#include <string>

#include "base/failure.h"

// The folder the products are written to: empty for the working folder.
extern std::string product_folder;

// The path of product `name` in the product folder.
std::string Product_path(const std::string& name);

struct ProductFile {
    std::string name;        // the product's file name
    std::string temporary;   // the file being written
    std::FILE* stream = nullptr;
    int error = 0;           // the system's reason (errno) of the first step that failed
};

// Keeps the file `name` (followed through links) as an input of the run: a product
// whose name reaches the same file (same device and inode, by another name, a link
// or a hard link) is refused as Open_product says.
void Protect_input(const std::string& name);

// True when `name`, followed through symbolic links, reaches a protected input's file.
bool Is_protected_input(const std::string& name);

// Gives a file that mkstemp made (for its owner only) the permissions every new file
// of the run gets (0666 less the umask).
void Give_usual_permissions(int descriptor);

// Opens a temporary file beside `name` for binary writing. Fails (code 6, "Can't
// write 'name'", with the system's error) when the product can't be written: `name`
// is a folder, a write-protected file or one of the protected inputs, or the folder
// doesn't take new files.
Failure Open_product(const std::string& name, ProductFile& product);

// Writes `bytes` bytes to the product; a failed write keeps its reason for
// Finish_product, which then refuses the product.
void Write_product(ProductFile& product, const void* data, size_t bytes);

// Flushes and closes the temporary file and, when every write reached it, renames it
// over the product. Fails as Open_product does (and removes the temporary file) when
// anything went wrong.
Failure Finish_product(ProductFile& product);

// Closes and removes the temporary file of a product that is given up; an earlier
// product of that name stays as it was.
void Abandon_product(ProductFile& product);

// A whole product from bytes at hand: Open_product, Write_product, Finish_product.
Failure Write_product_file(const std::string& name, const std::string& bytes);

// The line that follows a product's "Can't write to" line: the system's reason for
// the product's failure, and what to do.
std::string Product_failure_advice(const Failure& failure);
