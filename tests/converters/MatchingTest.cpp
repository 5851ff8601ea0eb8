// Connection matching: the two decision tables, and CompareConfiguration's calls and results.
#include <gtest/gtest.h>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "sim/SimObjects.h"

namespace {

constexpr LONG kUntouched = 7;

struct MatchCase {
    const char* own;
    const char* candidate;
    LONG expected;
};

template <class Converter>
void CheckDecisions(const std::vector<MatchCase>& cases) {
    for (const MatchCase& c : cases) {
        LONG same = kUntouched;
        Converter::Decide(CConfigString(c.own), CConfigString(c.candidate), &same);
        EXPECT_EQ(same, c.expected) << "own " << c.own << "\ncandidate " << c.candidate;
    }
}

TEST(LegacyMatchingTest, DecidesByTheOwnNetworkType) {
    CheckDecisions<CProtocolConverter>({
        {"[NET]NET:ETHERNET;", "[NET]NET:ETHERNET;", 1},                                // no DRVR: both ports empty
        {"[NET]NET:ETHERNET,LAN;[DRVR]PORT:P1;", "[DRVR]PORT:P1;", 1},                  // first list element selects
        {"[NET]NET:ethernet;[DRVR]PORT:P1;", "[NET]NET:ethernet;[DRVR]PORT:P1;", kUntouched},  // case matters
        {"[NET]NET:ETHERNET;[DRVR]PORT:P1;", "[NET]NET:TAVRIN;[DRVR]PORT:P1;", 1},     // candidate type not read
        {"[NET]NET:ETHERNET;[DRVR]PORT:P1,P2;", "[DRVR]PORT:P1,P3;", 1},                // first elements only
        {"[NET]NET:ETHERNET;[DRVR]PORT:P1;", "[DRVR]PORT:P2;", kUntouched},
        {"[NET]NET:KORA;[ADDRESS]DA1:20;DNA:1;", "[ADDRESS]DA1:20;DNA:1;", 1},
        {"[NET]NET:KORA;[ADDRESS]DA1:20;DNA:1;", "[ADDRESS]DA1:20;DNA:2;", kUntouched},
        {"[NET]NET:KORA;[ADDRESS]DA1:20;DNA:1;", "[ADDRESS]DA1:21;DNA:1;", kUntouched},
        {"[NET]NET:TAVRIN;[DRVR]PORT:P1;", "[NET]NET:TAVRINCMODE;[DRVR]PORT:P1;", kUntouched},
        {"[NET]NET:TAVRIN;[DRVR]PORT:P1;", "[NET]NET:TAVRIN;[DRVR]PORT:P1;", 1},
        {"[NET]NET:WEXA;[DRVR]PORT:COM1;", "[NET]NET:WEXA,X;[DRVR]PORT:COM1;", 1},
        {"[NET]NET:KR7TAVRIN;[DRVR]PORT:A;", "[NET]NET:KR7TAVRIN;[DRVR]PORT:B;", kUntouched},
        {"[NET]NET:PELLOQUA;[DRVR]PORT:A;", "[NET]NET:PELLOQUA;[DRVR]PORT:A;", 1},
        {"[NET]NET:RUSKEN;[DRVR]PORT:A;", "[NET]NET:RUSKEN;[DRVR]PORT:A;", 1},
        {"[NET]NET:TAVRINCMODE;[DRVR]PORT:A;", "[NET]NET:TAVRINCMODE;[DRVR]PORT:A;", 1},
        {"[NET]NET:ETNTCPKORA;", "[NET]NET:ETNTCPKORA;", kUntouched},  // not a legacy type
        {"[DRVR]PORT:A;", "[DRVR]PORT:A;", kUntouched},                // no network type
    });
}

TEST(TcpMatchingTest, NeedsTypeAddressPortAndNodeToAgree) {
    const char* own = "[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:1;[ADDRESS]IPADDR:10.0.0.1;";
    CheckDecisions<CTCPProtocolConverter>({
        {own, own, 1},
        {own, "[NET]NET:ETHERNET;[DRVR]PORT:P1;NODE:1;[ADDRESS]IPADDR:10.0.0.1;", 0},
        {own, "[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:01;[ADDRESS]IPADDR:10.0.0.1;", 0},  // texts, not numbers
        {own, "[NET]NET:ETNTCPKORA;[DRVR]PORT:P2;NODE:1;[ADDRESS]IPADDR:10.0.0.1;", 0},
        {own, "[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:1;[ADDRESS]IPADDR:10.0.0.2;", 0},
        {"[NET]NET:ETNTCPKORA;[ADDRESS]IPADDR:1.2.3.4;", "[NET]NET:ETNTCPKORA;[ADDRESS]IPADDR:1.2.3.4;", 1},
        {"[NET]NET:ETNTCPKORA,X;[ADDRESS]IPADDR:h;", "[NET]NET:ETNTCPKORA;[ADDRESS]IPADDR:h;", 1},
        {"[NET]NET:ETHERNET;[DRVR]PORT:P1;", "[NET]NET:ETHERNET;[DRVR]PORT:P1;", 0},  // a legacy type: decided 0
        {"[NET]NET:etntcpkora;", "[NET]NET:etntcpkora;", 0},
    });
}

// CompareConfiguration through a created converter: the calls it makes and what it returns.
template <class Converter>
class CompareConfigurationTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_framework = std::make_unique<SimFramework>();
        SimWorld::Instance().ClearFailures();
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make("[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;[ADDRESS]IPADDR:h;");
        ASSERT_EQ(Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, m_converter.PutVoid()), S_OK);
        ASSERT_EQ(m_converter.As(&m_callback), S_OK);
        const std::basic_string<WCHAR> name = ToWide("TCP");
        ASSERT_EQ(m_converter->Create(nullptr, reinterpret_cast<USHORT*>(const_cast<WCHAR*>(name.c_str())), m_factory.Get(),
                                      m_config.Get(), m_config.Get()),
                  S_OK);
    }
    void TearDown() override {
        SimWorld::Instance().ClearFailures();
        EXPECT_EQ(m_converter->Destroy(), S_OK);
        m_callback.Reset();
        m_converter.Reset();
        m_factory.Reset();
        m_config.Reset();
        m_framework.reset();
        CoUninitialize();
    }
    HRESULT Compare(const char* candidate, LONG* same) {
        const std::basic_string<WCHAR> text = ToWide(candidate);
        return m_callback->CompareConfiguration(text.c_str(), same);
    }

    std::unique_ptr<SimFramework> m_framework;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
    ComPtr<IZTK_ProtocolConverter> m_converter;
    ComPtr<IStackCallback> m_callback;
};

using Converters = testing::Types<CProtocolConverter, CTCPProtocolConverter>;
TYPED_TEST_SUITE(CompareConfigurationTest, Converters);

TYPED_TEST(CompareConfigurationTest, FailuresAndEmptyTextsLeaveTheFlagAlone) {
    LONG same = kUntouched;
    EXPECT_EQ(this->m_callback->CompareConfiguration(nullptr, &same), S_OK);
    EXPECT_EQ(same, kUntouched);

    for (const char* step : {"IProtocolStack::QueryObject", "IZTK_DeviceConfig::GetConfiguration"}) {
        SimWorld::Instance().InjectFailure(step, E_ACCESSDENIED);
        EXPECT_EQ(this->Compare("[NET]NET:ETNTCPKORA;", &same), E_ACCESSDENIED) << step;
        EXPECT_EQ(same, kUntouched) << step;
        SimWorld::Instance().ClearFailures();
    }

    WCHAR empty[1] = {0};
    ASSERT_EQ(this->m_config->SetConfiguration(empty, empty), S_OK);
    EXPECT_EQ(this->Compare("[NET]NET:ETNTCPKORA;", &same), S_OK);
    EXPECT_EQ(same, kUntouched);  // nothing to compare with: the candidate is not even parsed
}

TYPED_TEST(CompareConfigurationTest, AStackThatLendsNoConfigurationIsAnError) {
    SimStack::lendNothing = true;
    LONG same = kUntouched;
    EXPECT_EQ(this->Compare("[NET]NET:ETNTCPKORA;", &same), E_UNEXPECTED);
    SimStack::lendNothing = false;
    EXPECT_EQ(same, kUntouched);
}

TYPED_TEST(CompareConfigurationTest, ReadsTheOwnConfigurationAnewEachTime) {
    LONG same = kUntouched;
    EXPECT_EQ(this->Compare("[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;[ADDRESS]IPADDR:h;", &same), S_OK);
    const bool tcp = std::is_same<TypeParam, CTCPProtocolConverter>::value;
    EXPECT_EQ(same, tcp ? 1 : kUntouched);

    const std::basic_string<WCHAR> ethernet = ToWide("[NET]NET:ETHERNET;[DRVR]PORT:P1;");
    WCHAR empty[1] = {0};
    ASSERT_EQ(this->m_config->SetConfiguration(empty, const_cast<WCHAR*>(ethernet.c_str())), S_OK);
    same = kUntouched;
    EXPECT_EQ(this->Compare("[DRVR]PORT:P1;", &same), S_OK);
    EXPECT_EQ(same, tcp ? 0 : 1);
}

}  // namespace
