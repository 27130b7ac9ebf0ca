#include "modServices.h"

#include "platform/Error.h"
#include "platform/Services.h"

namespace zeph {

modServices::modServices(IServices &services, IWorkstation &workstation,
                         std::function<void(const std::string &)> report)
    : m_services(services)
    , m_workstation(workstation)
    , m_report(std::move(report)) {}

WorkStationInfo &modServices::workStationInfo() {
    if (!m_workStationInfo)
        m_workStationInfo = std::make_unique<WorkStationInfo>(m_workstation);
    return *m_workStationInfo;
}

std::int32_t modServices::getServiceState(const std::string &serviceName) {
    static const Where where{"getServiceState", "Module", "modServices"};
    std::int32_t state = 0;
    trap(where, m_report, [&] {
        // An empty computer name means this computer.
        const std::string &computer = workStationInfo().ComputerName();
        if (const auto current = m_services.serviceState(computer, serviceName))
            state = static_cast<std::int32_t>(*current);
    });
    return state;
}

} // namespace zeph
