#include "serialisation/matrix_serialization.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#include <fmt/format.h>

#include "serialisation/message_io.h"
#include "serialisation/proto/circuit.pb.h"

namespace Serial {

std::unique_ptr<galvorne::schema::Matrix> MatrixSerialization::serialize(Matrix const& matrix) {
    auto message = std::make_unique<galvorne::schema::Matrix>();
    message->set_rows(static_cast<std::int32_t>(matrix.rows()));
    message->set_cols(static_cast<std::int32_t>(matrix.cols()));
    auto* numeric = new galvorne::schema::MatrixDouble();
    numeric->mutable_data()->Reserve(static_cast<int>(matrix.size()));
    for (Eigen::Index k = 0; k < matrix.size(); ++k) {
        auto* entry = numeric->add_data();
        entry->set_real_value(matrix.data()[k].real());
        entry->set_imaginary_value(matrix.data()[k].imag());
    }
    message->set_allocated_numeric(numeric);
    return message;
}

void MatrixSerialization::toStream(Matrix const& matrix, std::ostream& stream) {
    serialize(matrix)->SerializePartialToOstream(&stream);
}

void MatrixSerialization::toFile(Matrix const& matrix, std::filesystem::path const& path) {
    details::write_file(path, [&](std::ostream& stream) { toStream(matrix, stream); });
}

Matrix MatrixSerialization::deserialize(galvorne::schema::Matrix const& message) {
    const std::int64_t rows = message.rows();
    const std::int64_t cols = message.cols();
    if (rows < 0 || cols < 0)
        throw std::runtime_error(fmt::format("Invalid matrix size {} x {}", rows, cols));
    // The size is checked against the entries before anything is allocated, so that a few bytes
    // claiming a huge matrix cost nothing; a size beyond any allocation still fails as one.
    const std::int64_t count = rows * cols;
    if (static_cast<std::uint64_t>(count) >
        static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
            sizeof(std::complex<double>))
        throw std::bad_alloc();
    if (message.has_symbolic())
        throw std::runtime_error("Deserialization of symbolic matrices is not yet supported");
    const auto& data = message.numeric().data();
    if (data.size() != count)
        throw std::runtime_error(
            fmt::format("Matrix of {} x {} cannot hold {} entries", rows, cols, data.size()));
    Matrix matrix(rows, cols);
    for (int k = 0; k < data.size(); ++k)
        matrix.data()[k] = {data[k].real_value(), data[k].imaginary_value()};
    return matrix;
}

Matrix MatrixSerialization::deserialize(std::istream& stream) {
    galvorne::schema::Matrix message;
    details::parse_whole(stream, message);
    return deserialize(message);
}

Matrix MatrixSerialization::deserialize(std::filesystem::path const& path) {
    std::ifstream file = details::open_for_reading(path);
    return deserialize(file);
}

}  // namespace Serial
