// The matching decisions of the two converters: does a candidate configuration designate the
// converter's own connection? Entries are compared as exact, case-sensitive texts; a missing
// entry reads as empty, so two missing entries agree.
#include <string>

#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"

namespace {

std::string Entry(const CConfigString& config, const char* section, const char* key) {
    return FirstListElement(config.GetValue(section, key));
}

bool SameEntry(const CConfigString& own, const CConfigString& candidate, const char* section, const char* key) {
    return Entry(own, section, key) == Entry(candidate, section, key);
}

}  // namespace

void CProtocolConverter::Decide(const CConfigString& own, const CConfigString& candidate, LONG* same) {
    static const char* const kPortKeyedTypes[] = {"WEXA", "KR7TAVRIN", "PELLOQUA", "RUSKEN", "TAVRIN", "TAVRINCMODE"};
    const std::string netType = Entry(own, "NET", "NET");
    bool match = false;
    if (netType == "ETHERNET") {
        match = SameEntry(own, candidate, "DRVR", "PORT");
    } else if (netType == "KORA") {
        match = SameEntry(own, candidate, "ADDRESS", "DA1") && SameEntry(own, candidate, "ADDRESS", "DNA");
    } else {
        for (const char* type : kPortKeyedTypes) {
            if (netType == type) {
                match = netType == Entry(candidate, "NET", "NET") && SameEntry(own, candidate, "DRVR", "PORT");
                break;
            }
        }
    }
    if (match) *same = 1;
}

void CTCPProtocolConverter::Decide(const CConfigString& own, const CConfigString& candidate, LONG* same) {
    const std::string netType = Entry(own, "NET", "NET");
    if (netType != "ETNTCPKORA") {
        *same = 0;
        return;
    }
    const std::string ownPort = Entry(own, "DRVR", "PORT");
    const std::string candidatePort = Entry(candidate, "DRVR", "PORT");
    const std::string ownAddress = Entry(own, "ADDRESS", "IPADDR");
    const std::string candidateAddress = Entry(candidate, "ADDRESS", "IPADDR");
    const std::string ownNode = Entry(own, "DRVR", "NODE");
    const std::string candidateNode = Entry(candidate, "DRVR", "NODE");
    const std::string candidateNetType = Entry(candidate, "NET", "NET");
    *same = ownAddress == candidateAddress && ownPort == candidatePort && netType == candidateNetType &&
                    ownNode == candidateNode
                ? 1
                : 0;
}
