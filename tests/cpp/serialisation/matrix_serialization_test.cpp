#include "serialisation/matrix_serialization.h"

#include <chrono>
#include <complex>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "serialisation/proto/circuit.pb.h"
#include "serialisation/temp_path.h"
#include "serialisation/wire_bytes.h"
#include "test_support.h"

namespace {

namespace schema = galvorne::schema;
using Serial::MatrixSerialization;
using test_support::expect_throw_message;
using wire_bytes::from_hex;
using wire_bytes::to_hex;

std::string write(const Matrix& m) {
    std::ostringstream out;
    MatrixSerialization::toStream(m, out);
    return out.str();
}

Matrix read(const std::string& bytes) {
    std::istringstream in(bytes);
    return MatrixSerialization::deserialize(in);
}

bool same_bits(const Matrix& a, const Matrix& b) {
    return a.rows() == b.rows() && a.cols() == b.cols() &&
           std::memcmp(a.data(), b.data(), sizeof(std::complex<double>) * a.size()) == 0;
}

TEST(MatrixSerialization, WritesEntriesRowByRow) {
    Matrix m(2, 2);
    m << 1.0, 2.0, 3.0, std::complex<double>(0, 4);
    const std::string c1 = "0A 09 09 00 00 00 00 00 00 F0 3F";
    const std::string c2 = "0A 09 09 00 00 00 00 00 00 00 40";
    const std::string c3 = "0A 09 09 00 00 00 00 00 00 08 40";
    const std::string c4i = "0A 09 11 00 00 00 00 00 00 10 40";
    EXPECT_EQ(to_hex(write(m)), "08 02 10 02 1A 2C " + c1 + " " + c2 + " " + c3 + " " + c4i);
    EXPECT_TRUE(same_bits(read(write(m)), m));
}

TEST(MatrixSerialization, ReadsBackBitForBit) {
    Matrix m(2, 3);
    m << std::complex<double>(-0.0, 1e-300), std::numeric_limits<double>::quiet_NaN(),
        std::complex<double>(0, -0.0), std::numeric_limits<double>::infinity(), 0.1, -2.5;
    EXPECT_TRUE(same_bits(read(write(m)), m));
    const Matrix column = Matrix::Constant(3, 1, {0.5, -0.25});
    EXPECT_TRUE(same_bits(read(write(column)), column));
}

TEST(MatrixSerialization, EmptyMatrixIsAnEmptyNumericMember) {
    EXPECT_EQ(to_hex(write(Matrix(0, 0))), "1A 00");
    EXPECT_EQ(read(from_hex("1A 00")).size(), 0);
    const Matrix nothing = read("");
    EXPECT_EQ(nothing.rows(), 0);
    EXPECT_EQ(nothing.cols(), 0);
    // Rows without columns hold no entry either.
    EXPECT_EQ(read(from_hex("08 03 1A 00")).rows(), 3);
}

TEST(MatrixSerialization, RefusesSymbolicMatrices) {
    schema::Matrix message;
    message.mutable_symbolic();
    expect_throw_message<std::runtime_error>(
        [&] { MatrixSerialization::deserialize(message); },
        "Deserialization of symbolic matrices is not yet supported");
}

struct SizeCase {
    const char* label;
    int rows;
    int cols;
    int entries;
    bool numeric;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.label;
}

class InconsistentSize : public testing::TestWithParam<SizeCase> {};

// Each of these used to write past the matrix or read past the entries.
TEST_P(InconsistentSize, IsRefusedBeforeAnyEntryIsStored) {
    const SizeCase& c = GetParam();
    schema::Matrix message;
    message.set_rows(c.rows);
    message.set_cols(c.cols);
    if (c.numeric) {
        auto* numeric = message.mutable_numeric();
        for (int k = 0; k < c.entries; ++k) numeric->add_data()->set_real_value(k);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(MatrixSerialization::deserialize(message), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

INSTANTIATE_TEST_SUITE_P(Sizes, InconsistentSize,
                         testing::Values(SizeCase{"TooManyEntries", 1, 1, 4, true},
                                         SizeCase{"TooFewEntries", 2, 2, 3, true},
                                         SizeCase{"NoDataMember", 2, 2, 0, false},
                                         SizeCase{"NegativeRows", -1, 2, 0, true},
                                         SizeCase{"NegativeColumns", 1, -3, 0, true},
                                         SizeCase{"BothNegative", -2, -2, 4, true},
                                         SizeCase{"HugeWithoutEntries", 1 << 20, 1 << 20, 1, true}),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(MatrixSerialization, SizeBeyondAnyAllocationIsBadAlloc) {
    schema::Matrix message;
    message.set_rows(std::numeric_limits<int>::max());
    message.set_cols(std::numeric_limits<int>::max());
    EXPECT_THROW(MatrixSerialization::deserialize(message), std::bad_alloc);
    message.mutable_symbolic();
    EXPECT_THROW(MatrixSerialization::deserialize(message), std::bad_alloc);
}

TEST(MatrixSerialization, RefusesBytesThatAreNoMatrix) {
    for (const char* hex : {"08", "1A 05 0A", "0B", "FF FF FF FF FF FF FF FF FF FF 01"})
        expect_throw_message<std::runtime_error>([&] { read(from_hex(hex)); },
                                                 "Could not parse serialized content");
}

TEST(MatrixSerialization, FileRoundTrip) {
    const TempPath path("matrix.bin");
    Matrix m(1, 2);
    m << std::complex<double>(0.5, -1), 7;
    MatrixSerialization::toFile(m, *path);
    EXPECT_TRUE(same_bits(MatrixSerialization::deserialize(*path), m));
    // An existing file is truncated.
    MatrixSerialization::toFile(Matrix(0, 0), *path);
    EXPECT_EQ(std::filesystem::file_size(*path), 2u);
}

TEST(MatrixSerialization, FileRefusals) {
    const TempPath dir("folder");
    std::filesystem::create_directory(*dir);
    const std::string missing = (*dir / "missing.bin").string();
    expect_throw_message<std::runtime_error>(
        [&] { MatrixSerialization::deserialize(std::filesystem::path(missing)); },
        "File not found: " + missing);
    expect_throw_message<std::runtime_error>([&] { MatrixSerialization::deserialize(*dir); },
                                             "File not found: " + (*dir).string());
    const std::string nowhere = (*dir / "no" / "such.bin").string();
    expect_throw_message<std::runtime_error>(
        [&] { MatrixSerialization::toFile(Matrix(1, 1), nowhere); },
        "Could not serialize circuit to file: " + nowhere);
}

// Permissions do not bind root, but a write-only sysctl refuses to be read by root too.
TEST(MatrixSerialization, FileThatCannotBeOpened) {
    const TempPath locked("locked.bin");
    std::vector<std::filesystem::path> unreadable;
    if (::geteuid() != 0) {
        MatrixSerialization::toFile(Matrix(0, 0), *locked);
        std::filesystem::permissions(*locked, std::filesystem::perms::none);
        unreadable.push_back(*locked);
    }
    const std::filesystem::path write_only("/proc/sys/vm/drop_caches");
    if (std::filesystem::is_regular_file(write_only) && ::access(write_only.c_str(), R_OK) != 0)
        unreadable.push_back(write_only);
    if (unreadable.empty()) GTEST_SKIP() << "no regular file that this user cannot read";
    for (const auto& path : unreadable)
        expect_throw_message<std::runtime_error>([&] { MatrixSerialization::deserialize(path); },
                                                 "Could not open file: " + path.string());
}

TEST(MatrixSerialization, FileWriterReportsBytesThatNeverReachTheFile) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    expect_throw_message<std::runtime_error>(
        [&] { MatrixSerialization::toFile(Matrix::Identity(4, 4), "/dev/full"); },
        "Could not serialize circuit to file: /dev/full");
}

}  // namespace
