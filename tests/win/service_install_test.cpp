#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/service_record.h"
#include "service_test_util.h"

namespace {

constexpr wchar_t kTestService[] = L"VoranexmgInstallTest";
constexpr wchar_t kPathWithSpace[] = L"C:\\Program Files\\Voranex QZ\\voranexmg.exe";

struct Config2Call {
  DWORD level;
  std::wstring description;
  SERVICE_FAILURE_ACTIONSW actions;
  std::vector<SC_ACTION> actionList;
};

std::vector<Config2Call> g_calls;

BOOL WINAPI RecordConfig2(SC_HANDLE service, DWORD level, LPVOID info) {
  Config2Call call{level, {}, {}, {}};
  if (level == SERVICE_CONFIG_DESCRIPTION) {
    call.description = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
  } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    call.actions = *static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
    call.actionList.assign(call.actions.lpsaActions,
                           call.actions.lpsaActions + call.actions.cActions);
  }
  g_calls.push_back(call);
  return ::ChangeServiceConfig2W(service, level, info);
}

template <std::size_t Size>
void SetText(wchar_t (&target)[Size], const wchar_t* text) {
  wcscpy_s(target, Size, text);
}

class InstallServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CServiceManager manager;
    SetText(g_serviceRecord.serviceName, kTestService);
    SetText(g_serviceRecord.displayName, L"VORANEX QZ Management");
    SetText(g_serviceRecord.description, L"VORANEX QZ Management");
    SetText(g_serviceRecord.executablePath, kPathWithSpace);
    RemoveService(kTestService);
    g_calls.clear();
    g_changeServiceConfig2 = &RecordConfig2;
  }
  void TearDown() override {
    g_changeServiceConfig2 = &::ChangeServiceConfig2W;
    RemoveService(kTestService);
  }
};

TEST_F(InstallServiceTest, RegistersQuotedPathThenDescriptionThenThreeRestarts) {
  ASSERT_EQ(InstallService(), 0u);

  EXPECT_EQ(ServiceValueText(kTestService, L"ImagePath"),
            std::wstring(L"\"") + kPathWithSpace + L"\"");
  EXPECT_EQ(ServiceValueNumber(kTestService, L"Start"), static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(ServiceValueNumber(kTestService, L"Type"),
            static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(ServiceValueNumber(kTestService, L"ErrorControl"),
            static_cast<DWORD>(SERVICE_ERROR_NORMAL));

  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].level, static_cast<DWORD>(SERVICE_CONFIG_DESCRIPTION));
  EXPECT_EQ(g_calls[0].description, L"VORANEX QZ Management");
  const Config2Call& failure = g_calls[1];
  EXPECT_EQ(failure.level, static_cast<DWORD>(SERVICE_CONFIG_FAILURE_ACTIONS));
  EXPECT_EQ(failure.actions.dwResetPeriod, kFailureResetSeconds);
  EXPECT_EQ(failure.actions.lpRebootMsg, nullptr);
  EXPECT_EQ(failure.actions.lpCommand, nullptr);
  ASSERT_EQ(failure.actionList.size(), 3u);
  for (std::size_t i = 0; i < failure.actionList.size(); ++i) {
    EXPECT_EQ(failure.actionList[i].Type, SC_ACTION_RESTART);
    EXPECT_EQ(failure.actionList[i].Delay, kRestartDelaysMs[i]);
  }
}

TEST_F(InstallServiceTest, ExistingServiceIsLeftAsItWas) {
  ASSERT_EQ(InstallService(), 0u);
  g_calls.clear();
  SetText(g_serviceRecord.executablePath, L"C:\\other\\voranexmg.exe");

  EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(ServiceValueText(kTestService, L"ImagePath"),
            std::wstring(L"\"") + kPathWithSpace + L"\"");
}

TEST_F(InstallServiceTest, OperationsOnAMissingServiceNameTheMissingService) {
  const DWORD missing = ERROR_SERVICE_DOES_NOT_EXIST;
  EXPECT_EQ(UninstallService(), missing);
  EXPECT_EQ(StartServiceAndWait(), missing);
  EXPECT_EQ(StopServiceAndWait(), missing);
  EXPECT_EQ(GetServiceState(), 0u);
}

TEST_F(InstallServiceTest, StoppedServiceNeedsNoStopRequest) {
  ASSERT_EQ(InstallService(), 0u);
  EXPECT_EQ(GetServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(StopServiceAndWait(), 0u);
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_EQ(QueryState(kTestService), 0u);
}

}  // namespace
