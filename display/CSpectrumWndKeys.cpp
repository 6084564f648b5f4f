// Layout of the keyboard display: white and black keys placed along the
// graph, one semitone per key, and the white keys shaped around the black
// ones.
#include "display/CSpectrumWnd.h"

#include "display/CKeyElement.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cmath>

namespace {

// One entry per semitone starting at A: 1 for a black key.
constexpr int kKeyPattern[12] = {0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1};

// Notes below this one (counted from the start frequency) have no key.
constexpr int kFirstNote = 20;

} // namespace

// Slots 0, 2, 4, ... hold white keys side by side; each odd slot holds the
// black key that sits over the boundary after the white key before it. Every
// key starts out in its place; MapKeys then empties the odd slots where two
// white notes meet (B-C and E-F).
void CSpectrumWnd::BuildKeyboard(RECT G, int nRate, int nSize)
{
    // A key count below 1 from a damaged store would divide by zero.
    const int nKeyDiv = std::max(1, m_settings.KeyDiv);
    // Two slots per white key, within the table; also keeps 2 x KeyDiv from
    // overflowing.
    const int n = int(std::min<long long>(2LL * nKeyDiv, kMaxElements));

    const int W = G.right - G.left;
    const int H = G.top - G.bottom;
    const int kw = W / nKeyDiv;
    G.left += (W - kw * nKeyDiv) / 2;
    G.right = G.left + nKeyDiv * kw;
    const SIZE whiteSize{kw, H - 5};
    const POINT blackOffset{2 * kw / 3, 3 * H / 7};
    const SIZE blackSize{2 * kw / 3, 4 * H / 7};
    m_rcClock.left = m_rcWave.left = G.left;
    m_rcClock.right = m_rcWave.right = G.right;

    // Slot 0 is always a new key.
    m_pElements[0] = NewKey();
    POINT white{G.left, G.bottom}; // origin of the white key placed last
    m_pElements[0]->SetGeometry(white, whiteSize, 0);
    m_pElements[0]->SetMapper(&m_mapper);

    int nUsed = n;
    for (int i = 1; i < n; ++i) {
        POINT origin;
        SIZE size;
        if (i % 2 == 0) {
            white.x += kw;
            origin = white;
            size = whiteSize;
        } else {
            origin = {white.x + blackOffset.x, white.y + blackOffset.y};
            size = blackSize;
            if (origin.x + size.cx > G.right)
                size.cx = G.right - origin.x; // the last black key stops at the edge
        }
        if (m_pElements[i] && m_pElements[i]->m_nKind != CKeyElement::kKind)
            m_pElements[i].reset();
        if (i % 2 != 0 && size.cx <= 0) {
            // Nothing of this black key is left: the keyboard ends here.
            m_pElements[i].reset();
            nUsed = i;
            break;
        }
        if (!m_pElements[i])
            m_pElements[i] = NewKey();
        m_pElements[i]->SetGeometry(origin, size, 0);
        m_pElements[i]->SetMapper(&m_mapper);
    }
    // Emptied before the mapping and linking so that neither meets a key
    // left over from an earlier, longer keyboard.
    for (int i = nUsed; i < kMaxElements; ++i)
        m_pElements[i].reset();

    MapKeys(nRate, nSize, n);

    const auto keyAt = [this, n](int i) -> CKeyElement * {
        if (i < 0 || i >= n || !m_pElements[i] || m_pElements[i]->m_nKind != CKeyElement::kKind)
            return nullptr;
        return static_cast<CKeyElement *>(m_pElements[i].get());
    };
    for (int i = 0; i < n; i += 2) {
        CKeyElement *pWhite = keyAt(i);
        if (!pWhite)
            break;
        CKeyElement *pBlack = keyAt(i + 1);
        pWhite->LinkNeighbours(keyAt(i - 1), pBlack);
        pWhite->m_bBlack = 0;
        if (pBlack)
            pBlack->m_bBlack = 1;
    }
}

// Walks the semitones up from BaseKey (halved to 100 Hz or below, so that it
// names the same note a few octaves down) and gives each key slot the next
// note of its colour. Where two white notes follow each other the black slot
// between them is emptied. A key's bins cover half a semitone either side of
// its note, or, where the bins are too coarse for that, the two bins around
// it with a gain that makes up for a note falling between them.
void CSpectrumWnd::MapKeys(int nRate, int nSize, int nCount)
{
    if (nRate <= 0 || nSize < 2)
        return;
    nCount = std::min(nCount, int(kMaxElements));
    const double f = double(nRate) / nSize;  // Hz per bin
    const double u = std::log10(2.0) / 12.0; // one semitone, as an exponent
    // Terminates for every whole number; 0 or less is left as it is, and
    // its logarithm ends the walk at once or tunes every key to 0 Hz.
    double fStart = m_settings.BaseKey;
    while (fStart > 100.0)
        fStart /= 2.0;
    const double e0 = std::log10(fStart);
    const double limit = std::log10(nRate / 2.0);
    const int nHalf = nSize / 2; // bins in the spectrum

    int s = 0;
    for (int nNote = 0; s < nCount; ++nNote) {
        const double e = e0 + nNote * u;
        if (!(e < limit))
            break;
        const int bBlack = kKeyPattern[nNote % 12];
        if (nNote < kFirstNote || (bBlack && s == 0))
            continue;
        if (!m_pElements[s])
            break;
        if ((s % 2 != 0) != (bBlack != 0)) {
            // No black key between two white notes.
            m_pElements[s].reset();
            if (++s >= nCount || !m_pElements[s])
                break;
        }

        const double F = std::pow(10.0, e);
        const double fLo = std::pow(10.0, e - u);
        const double fHi = std::pow(10.0, e + u);
        const int lb = int((fLo + F) / 2.0 / f);
        const int ub = int((F + fHi) / 2.0 / f);
        BandDesc desc;
        double gain;
        if (6.0 * f > F - fLo) {
            const double pos = F / f;
            const int w = int(pos);
            const double frac = pos - w;
            const double r = frac > 0.5 ? 1.0 - frac : frac;
            desc.nFirstBin = w;
            desc.nBinCount = 2;
            gain = (((w + ub) / 2) * 0.4 / (nSize / 2) + 1.0) * (1.0 + 0.4 * r);
        } else {
            desc.nFirstBin = lb;
            desc.nBinCount = ub - lb + 1;
            gain = ((lb + ub) / 2) * 0.4 / (nSize / 2) + 1.0;
        }
        // A note just below half the rate reaches past the last bin.
        if (desc.nFirstBin + desc.nBinCount > nHalf)
            desc.nBinCount = std::max(0, nHalf - desc.nFirstBin);
        m_pElements[s]->SetBins(desc);
        m_pElements[s]->m_fGain = float(gain);
        ++s;
    }
}
