#pragma once
// A test over the bench's virtual cards: connected to the card controller, both
// readers empty when it starts and when it ends.
#include <gtest/gtest.h>

#include "CVirtualCards.h"
#include "SmartCardTestSupport.h"

class VirtualCardTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!m_cards.Connect()) {
            if (PcscBenchRequired())
                FAIL() << "PC/SC bench started but not reachable";
            GTEST_SKIP() << "PC/SC bench not running: tests/smartcard/bench/pcsc-bench.sh start";
        }
        ASSERT_TRUE(m_cards.Remove(0));
        ASSERT_TRUE(m_cards.Remove(1));
    }

    void TearDown() override
    {
        if (m_cards.IsConnected()) {
            m_cards.Remove(0);
            m_cards.Remove(1);
        }
    }

    // True when SetUp let the test go on.
    bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }

    // Keeps the current card state long enough for the service to see it.
    void Hold()
    {
        DWORD dwHeld = GetTickCount() - m_cards.LastChangeTick();
        if (dwHeld < HOLD_MS)
            Sleep(HOLD_MS - dwHeld);
    }

    void Insert(int nReader, const char* pszAtr)
    {
        Hold();
        ASSERT_TRUE(m_cards.Insert(nReader, pszAtr));
    }

    void Insert(int nReader, const char* pszAtr, const char* pszApp)
    {
        Hold();
        ASSERT_TRUE(m_cards.Insert(nReader, pszAtr, pszApp));
    }

    void Remove(int nReader)
    {
        Hold();
        ASSERT_TRUE(m_cards.Remove(nReader));
    }

    CVirtualCards m_cards;
};
