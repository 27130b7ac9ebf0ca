#pragma once
// Names in a list as the operator tells them apart.

#include <string>
#include <vector>

namespace zeph {

/// The entries of a list as shown: a name that more than one entry bears is followed by the
/// entry's alias, "Sales Staff (salesTemplateEast)"; a name of its own stays as it is. An
/// entry without an alias keeps its name.
std::vector<std::string> namesToldApart(const std::vector<std::string> &names,
                                        const std::vector<std::string> &aliases);

} // namespace zeph
