#pragma once

#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>

#include "runtime/matrix.h"

namespace galvorne::schema {
class Matrix;
}

namespace Serial {

// Dense complex matrices to and from the numeric Matrix message, entries row by row.
class MatrixSerialization {
  public:
    static std::unique_ptr<galvorne::schema::Matrix> serialize(Matrix const& matrix);
    static void toStream(Matrix const& matrix, std::ostream& stream);
    static void toFile(Matrix const& matrix, std::filesystem::path const& path);

    // std::runtime_error for negative sizes, a symbolic matrix, or an entry count other than
    // rows × cols; std::bad_alloc for a size no allocation can hold.
    static Matrix deserialize(galvorne::schema::Matrix const& message);
    static Matrix deserialize(std::istream& stream);
    static Matrix deserialize(std::filesystem::path const& path);
};

}  // namespace Serial
