#pragma once
// Entry point shared by the gui and system tests: a QApplication on the
// offscreen platform unless the caller chose another (xvfb-run sets DISPLAY
// and QT_QPA_PLATFORM=xcb for screenshot runs).
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#define HOROLAB_QT_TEST_MAIN()                                   \
    int main(int argc, char** argv)                              \
    {                                                            \
        setenv("QT_QPA_PLATFORM", "offscreen", 0);               \
        ::testing::InitGoogleTest(&argc, argv);                  \
        QApplication app(argc, argv);                            \
        return RUN_ALL_TESTS();                                  \
    }
