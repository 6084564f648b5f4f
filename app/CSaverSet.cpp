#include "app/CSaverSet.h"

#include "app/CSaverWnd.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <random>

CSaverSet::CSaverSet(DisplaySettings &settings)
    : m_settings(settings), m_pEngine(std::make_unique<CSpectrumEngine>(settings))
{}

CSaverSet::~CSaverSet()
{
    // The windows read the engine until they go.
    m_bEnding = true;
    for (Entry &entry : m_windows)
        delete entry.pWnd.data();
    m_windows.clear();
    m_pEngine->Stop();
}

bool CSaverSet::Start()
{
    // The primary screen first: it gets the library's generator, as the
    // saver of one screen has it.
    QList<QScreen *> screens = QGuiApplication::screens();
    if (QScreen *pPrimary = QGuiApplication::primaryScreen()) {
        screens.removeAll(pPrimary);
        screens.prepend(pPrimary);
    }
    for (QScreen *pScreen : screens)
        AddScreen(pScreen);
    if (m_windows.empty())
        return false;
    connect(qGuiApp, &QGuiApplication::screenAdded, this,
            [this](QScreen *pScreen) { AddScreen(pScreen); });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &CSaverSet::RemoveScreen);
    return true;
}

CSaverWnd *CSaverSet::NewWindow(bool bAutoDelete)
{
    auto *pWnd = new CSaverWnd(m_settings, *m_pEngine, bAutoDelete);
    if (m_nMade > 0) {
        // Every window after the first moves by a generator of its own, so
        // that each screen has its own sequence of places. The library's
        // range, 0..32767: only the low four bits are used.
        auto pRand = std::make_shared<std::minstd_rand>(unsigned(m_nMade));
        pWnd->m_fnRand = [pRand] { return int((*pRand)() & 0x7FFF); };
    }
    ++m_nMade;
    return pWnd;
}

bool CSaverSet::AddScreen(QScreen *pScreen)
{
    if (m_bEnding || !pScreen)
        return false;
    CSaverWnd *pWnd = NewWindow(true); // deletes itself once closed
    pWnd->SetEndHandler([this] { EndAll(); });
    if (!pWnd->CreateSaverWindow(pScreen)) {
        delete pWnd;
        return false;
    }
    m_windows.push_back(Entry{pScreen, pWnd});
    return true;
}

bool CSaverSet::StartPanes(QWidget *pContainer, const std::vector<QRect> &panes)
{
    for (const QRect &rcPane : panes) {
        CSaverWnd *pWnd = NewWindow(false); // a child of the container
        if (!pWnd->CreateHostedSaverWindow(rcPane.width(), rcPane.height())) {
            delete pWnd;
            continue;
        }
        pWnd->setParent(pContainer);
        pWnd->setGeometry(rcPane);
        // A window of its own inside the container, which frames can be put
        // into straight from shared memory.
        pWnd->setAttribute(Qt::WA_NativeWindow);
        pWnd->show();
        m_windows.push_back(Entry{nullptr, pWnd});
    }
    return !m_windows.empty();
}

std::vector<QRect> CSaverSet::MonitorPanes(const QRect &rcWindow,
                                           const std::vector<QRect> &monitors, double dRatio)
{
    std::vector<QRect> panes;
    if (dRatio <= 0)
        dRatio = 1;
    const auto toLogical = [dRatio](int v) { return int(std::lround(v / dRatio)); };
    for (const QRect &rcMonitor : monitors) {
        const QRect rc = (rcMonitor & rcWindow).translated(-rcWindow.topLeft());
        if (rc.isEmpty())
            continue;
        // Edges rounded, not sizes, so that panes side by side still meet.
        const QRect pane(QPoint(toLogical(rc.left()), toLogical(rc.top())),
                         QPoint(toLogical(rc.right() + 1) - 1, toLogical(rc.bottom() + 1) - 1));
        if (!pane.isEmpty() && std::find(panes.begin(), panes.end(), pane) == panes.end())
            panes.push_back(pane);
    }
    if (panes.size() < 2)
        panes.clear();
    return panes;
}

void CSaverSet::RemoveScreen(QScreen *pScreen)
{
    const auto it = std::find_if(m_windows.begin(), m_windows.end(),
                                 [pScreen](const Entry &e) { return e.pScreen == pScreen; });
    if (it == m_windows.end())
        return;
    // Gone without closing: a closing would end the saver.
    if (CSaverWnd *pWnd = it->pWnd.data()) {
        pWnd->hide();
        pWnd->deleteLater();
    }
    m_windows.erase(it);
}

void CSaverSet::EndAll()
{
    if (m_bEnding)
        return;
    m_bEnding = true;
    for (Entry &entry : m_windows) {
        if (CSaverWnd *pWnd = entry.pWnd.data())
            pWnd->hide();
    }
    QCoreApplication::exit(0);
}
