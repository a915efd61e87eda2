// Writing a product file safely: the data go to a temporary file in the same folder,
// which replaces the product only once it is complete, so that a failed or
// interrupted run never leaves a truncated product where a complete one stood.
#pragma once

#include <cstdio>
#include <string>

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

// Opens a temporary file beside `name` for binary writing. False when the product
// can't be written: `name` is a folder or a write-protected file, or the folder
// doesn't take new files.
bool Open_product(const std::string& name, ProductFile& product);

// Writes `bytes` bytes to the product; a failed write keeps its reason for
// Finish_product, which then refuses the product.
void Write_product(ProductFile& product, const void* data, size_t bytes);

// Flushes and closes the temporary file and, when every write reached it, renames it
// over the product. False (and the temporary file removed) when anything failed.
bool Finish_product(ProductFile& product);

// The line that follows a product's "Can't write to" line: the system's reason for
// the last product that Open_product or Finish_product refused, and what to do.
std::string Product_failure_reason();
