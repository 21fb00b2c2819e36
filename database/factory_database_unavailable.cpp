#include "database/factory_database.h"

namespace quillon {

// A build without the PostgreSQL client library: every use says so.
namespace {
constexpr const char* kNotAvailable = "the database (--database) is not available in this build";
}

struct FactoryDatabase::Impl {};

Status FactoryDatabase::CheckConnectionString(const std::string&) {
    return Fail(ErrorKind::kUnsupported, kNotAvailable);
}

bool FactoryDatabase::Available() {
    return false;
}

FactoryDatabase::FactoryDatabase(std::string) {}
FactoryDatabase::~FactoryDatabase() = default;

Result<int> FactoryDatabase::Open(const StopRequested&) {
    return Fail(ErrorKind::kUnsupported, kNotAvailable);
}

Result<std::optional<std::uint64_t>> FactoryDatabase::PeekCounter(const std::string&,
                                                                  const StopRequested&) {
    return Fail(ErrorKind::kUnsupported, kNotAvailable);
}

Result<std::uint64_t> FactoryDatabase::TakeNumber(const std::string&, std::optional<std::uint64_t>,
                                                  const SerialClaim&, const StopRequested&) {
    return Fail(ErrorKind::kUnsupported, kNotAvailable);
}

Status FactoryDatabase::StoreBoardRow(const std::string&, const std::string&,
                                      const StopRequested&) {
    return Fail(ErrorKind::kUnsupported, kNotAvailable);
}

}  // namespace quillon
