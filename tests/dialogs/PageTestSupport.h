#pragma once

#include "dialogs/PageSupport.h"
#include "settings/Settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Helpers shared by the settings-page tests.

template <typename T = QAbstractButton> T *Control(QWidget *pDialog, const char *pszName)
{
    T *pControl = pDialog->findChild<T *>(QString::fromLatin1(pszName));
    EXPECT_NE(pControl, nullptr) << pszName;
    return pControl;
}

inline void Click(QWidget *pDialog, const char *pszName)
{
    if (QAbstractButton *p = Control(pDialog, pszName))
        QTest::mouseClick(p, Qt::LeftButton, {}, QPoint(6, p->height() / 2));
}

// The three ways out that cancel a page: its Cancel button, Esc, the close box.
inline const std::function<void(QWidget *)> kCancelWays[] = {
    [](QWidget *p) { Click(p, "cancelButton"); },
    [](QWidget *p) { QTest::keyClick(p, Qt::Key_Escape); },
    [](QWidget *p) { p->close(); },
};

// Acts on the next modal dialog once it shows, from the event loop its exec runs.
inline void WhenModalShows(std::function<void(QWidget *)> fnAct)
{
    auto *pTimer = new QTimer(qApp);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, fnAct] {
        if (QWidget *pModal = QApplication::activeModalWidget()) {
            pTimer->deleteLater(), pTimer->stop(), fnAct(pModal);
        }
    });
    pTimer->start(10);
}

// One page in m_pDlg, on default settings, the flag down and the real choosers after.
template <typename Dlg> struct PageTest : ::testing::Test
{
    void SetUp() override { ResetSettings(), g_bSettingsChanged = 0; }
    void TearDown() override { m_pDlg.reset(), ResetPageChoosers(), SetUp(); }
    template <typename T = QAbstractButton> T *Ctl(const char *pszName)
    {
        return Control<T>(m_pDlg.get(), pszName);
    }
    QString Text(const char *pszName) { return Ctl<QLabel>(pszName)->text(); }
    void Click(const char *pszName) { ::Click(m_pDlg.get(), pszName); }

    std::unique_ptr<Dlg> m_pDlg;
};
