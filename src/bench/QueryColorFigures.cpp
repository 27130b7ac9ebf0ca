// Keyword colouring of the advanced search's editor on a text as long as the editor holds.
#include "Figures.h"
#include "Measure.h"
#include "search/SetQueryColors.h"

#include <stdexcept>

namespace zeph::bench {

void measureQueryColors(const BenchOptions &options, Report &report) {
    // An administrator's long query: keywords, names, quoted values and line breaks, repeated
    // up to the editor's most characters.
    const std::string line =
        "select Alias, DisplayName, FirstName, LastName from vw_Subscriber where "
        "DTMFAccessID between '4000' and '4999' and HomeServer like 'MAIL%' or not "
        "exists (select * from vw_COS where vw_COS.Alias = 'Executives') order by Alias\r\n";
    const std::size_t length = static_cast<std::size_t>(options.scaled(32767));
    std::string text;
    while (text.size() < length)
        text += line;
    text.resize(length);

    std::size_t runs = 0;
    const Timing best = bestOf(options.quick ? 20 : 10, [&] {
        search::QueryColors colors = search::SetQueryColors(text, static_cast<int>(length / 2));
        runs += colors.runs.size();
    });
    if (runs == 0)
        throw std::runtime_error("SetQueryColors coloured nothing");
    report.add({"set_query_colors_32k_ms", best.cpuMs, "ms", Goal::Below, 20, ""});
}

} // namespace zeph::bench
