#pragma once
// Service states, read through the service control manager of the computer the shared
// WorkStationInfo names.

#include "WorkStationInfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zeph {

class IServices;
class IWorkstation;

class modServices {
public:
    /// `report` shows an unexpected error in the "(error):" form (the program uses a message
    /// box).
    modServices(IServices &services, IWorkstation &workstation,
                std::function<void(const std::string &)> report);

    /// The program's one WorkStationInfo, created on first use.
    WorkStationInfo &workStationInfo();

    /// The service's current state (4 running, 1 stopped, ...), or 0 when the service manager
    /// or the service cannot be opened with full access or its status cannot be read.
    std::int32_t getServiceState(const std::string &serviceName);

private:
    IServices &m_services;
    IWorkstation &m_workstation;
    std::function<void(const std::string &)> m_report;
    std::unique_ptr<WorkStationInfo> m_workStationInfo;
};

} // namespace zeph
