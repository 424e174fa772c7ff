// Whatever a body of work throws becomes the library's exception with the
// code the export frame and the worker thread report for it.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "api/CatchToException.h"

TEST(CatchToException, EachKindOfThrowGivesItsCode)
{
    struct Case {
        const char* pszName;
        std::function<void()> fnBody;
        int nCode;
    };
    const Case cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, ERR_NO_MEMORY},
        {"std exception", [] { throw std::runtime_error("x"); }, ERR_WINDOWS_UNKNOWN},
        {"int", [] { throw 7; }, ERR_WINDOWS_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CCaught caught = CatchToException("C::Op", c.fnBody);
        ASSERT_NE(nullptr, caught.pException);
        EXPECT_EQ(c.nCode, caught.nFailure);
        EXPECT_EQ(c.nCode, caught.pException->GetResultCode());
        EXPECT_EQ(EXC_OWN, caught.pException->GetKind());
        EXPECT_EQ("C::Op", caught.pException->GetContext());
        delete caught.pException;
    }
}

TEST(CatchToException, LibraryExceptionPassesThroughAndReturnIsNoFailure)
{
    CTarvoselException* pThrown = new CTarvoselException(EXC_OWN, ERR_FILE_READ, "Inner");
    CCaught caught = CatchToException("Outer", [&] { throw pThrown; });
    EXPECT_EQ(pThrown, caught.pException);
    EXPECT_EQ(ERR_FILE_READ, caught.nFailure);
    delete caught.pException;

    bool bRan = false;
    caught = CatchToException("Outer", [&] { bRan = true; });
    EXPECT_TRUE(bRan);
    EXPECT_EQ(nullptr, caught.pException);
    EXPECT_EQ(RESULT_OK, caught.nFailure);
}
