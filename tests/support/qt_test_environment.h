#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace quillon {

// One QApplication for a whole test program, on Qt's offscreen platform.
class QtTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "quillon-tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

// Registered once per test program, whichever of its files include this.
inline ::testing::Environment* const g_qtTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtTestEnvironment);

}  // namespace quillon
