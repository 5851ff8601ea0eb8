// The early-return macros: the first failure goes back unchanged, later steps do not run, and
// the failure observer learns which expression failed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/HResult.h"

namespace {

HRESULT FailsAtSecondStep(int* steps) {
    RETURN_IF_FAILED((++*steps, S_OK));
    RETURN_IF_FAILED((++*steps, E_ACCESSDENIED));
    ++*steps;
    return S_OK;
}

TEST(HResultTest, ReturnIfFailedStopsAtTheFirstFailure) {
    int steps = 0;
    EXPECT_EQ(FailsAtSecondStep(&steps), E_ACCESSDENIED);
    EXPECT_EQ(steps, 2);
}

HRESULT SucceedsWithFalse() {
    RETURN_IF_FAILED(S_FALSE);  // a success code is not a failure
    return S_OK;
}

HRESULT ChecksAllocation(void* p) {
    RETURN_IF_NULL_ALLOC(p);
    return S_OK;
}

HRESULT ReturnsEarlyIf(bool condition, HRESULT hr) {
    RETURN_HR_IF(hr, condition);
    return S_OK;
}

TEST(HResultTest, MacrosReturnOnlyWhatTheirConditionSays) {
    int object = 0;
    const struct {
        HRESULT result;
        HRESULT expected;
    } cases[] = {
        {SucceedsWithFalse(), S_OK},
        {ChecksAllocation(nullptr), E_OUTOFMEMORY},
        {ChecksAllocation(&object), S_OK},
        {ReturnsEarlyIf(true, E_INVALIDARG), E_INVALIDARG},
        {ReturnsEarlyIf(false, E_INVALIDARG), S_OK},
        {ReturnsEarlyIf(true, S_FALSE), S_FALSE},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        EXPECT_EQ(cases[i].result, cases[i].expected) << "case " << i;
    }
}

struct Failure {
    HRESULT hr;
    std::string expression;
    int line;
};
std::vector<Failure> failures;

void Record(HRESULT hr, const char* expression, const char* file, int line) {
    EXPECT_NE(std::string(file).find("HResultTest.cpp"), std::string::npos);
    failures.push_back(Failure{hr, expression, line});
}

TEST(HResultTest, ObserverSeesEachFailingExpressionOnly) {
    failures.clear();
    const FailureObserver previous = SetFailureObserver(&Record);
    int steps = 0;
    FailsAtSecondStep(&steps);
    SucceedsWithFalse();
    ReturnsEarlyIf(true, S_FALSE);  // an early success is no failure
    ChecksAllocation(nullptr);
    EXPECT_EQ(SetFailureObserver(previous), &Record);
    FailsAtSecondStep(&steps);  // no observer: nothing recorded

    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].hr, E_ACCESSDENIED);
    EXPECT_EQ(failures[0].expression, "(++*steps, E_ACCESSDENIED)");
    EXPECT_GT(failures[0].line, 0);
    EXPECT_EQ(failures[1].hr, E_OUTOFMEMORY);
    EXPECT_EQ(failures[1].expression, "(p) == nullptr");
}

}  // namespace
