// Placeholder: the registry file reader and writer replaces this file.
#include "FileRegistry.h"

namespace zeph::sim {
namespace {
class ClosedRegistry : public IRegistry {
public:
    bool openable(RegRoot, const std::string &, RegAccess) override { return false; }
    bool createKey(RegRoot, const std::string &) override { return false; }
    std::optional<RegRawValue> queryValue(RegRoot, const std::string &, const std::string &) override { return std::nullopt; }
    bool setValue(RegRoot, const std::string &, const std::string &, const RegRawValue &) override { return false; }
    bool deleteValue(RegRoot, const std::string &, const std::string &) override { return false; }
    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot, const std::string &) override { return std::nullopt; }
};
} // namespace
std::unique_ptr<IRegistry> makeFileRegistry(const std::string &, std::function<void(const std::string &)>)
{
    return std::make_unique<ClosedRegistry>();
}
} // namespace zeph::sim
