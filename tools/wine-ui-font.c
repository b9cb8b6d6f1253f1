/* What a Wine prefix draws Windows' UI fonts with: the message and menu fonts of the system
 * metrics and the faces programs ask for by name. Each must be a sans-serif font that holds
 * Cyrillic; otherwise the program under test is drawn in a stand-in that says nothing about
 * how it looks on Windows. Prints one line per font; exit status 1 when one fails.
 *
 *   x86_64-w64-mingw32-gcc -municode -mconsole -o wine-ui-font.exe wine-ui-font.c -lgdi32 -luser32
 */
#include <windows.h>

#include <stdio.h>

static int check(const char *what, LOGFONTW font)
{
    HDC dc = GetDC(NULL);
    HFONT handle = CreateFontIndirectW(&font);
    HGDIOBJ old = SelectObject(dc, handle);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    WORD glyph = 0xFFFF;
    GetGlyphIndicesW(dc, L"\x0416", 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS); /* Ж */
    SelectObject(dc, old);
    DeleteObject(handle);
    ReleaseDC(NULL, dc);
    const int sans = (metrics.tmPitchAndFamily & 0xF0) == FF_SWISS;
    const int cyrillic = glyph != 0xFFFF;
    printf("%s \"%ls\": %s, %s\n", what, font.lfFaceName, sans ? "sans-serif" : "NOT sans-serif",
           cyrillic ? "Cyrillic" : "NO Cyrillic");
    return sans && cyrillic;
}

int wmain(void)
{
    NONCLIENTMETRICSW metrics = {sizeof metrics};
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    int ok = check("message font", metrics.lfMessageFont);
    ok &= check("menu font", metrics.lfMenuFont);
    static const WCHAR *faces[] = {L"MS Shell Dlg 2", L"MS Shell Dlg", L"Segoe UI", L"Tahoma",
                                   L"MS Sans Serif", L"Arial"};
    for (size_t i = 0; i < sizeof faces / sizeof *faces; ++i) {
        LOGFONTW font = {0};
        font.lfHeight = -12;
        font.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(font.lfFaceName, faces[i], LF_FACESIZE);
        ok &= check("face", font);
    }
    return ok ? 0 : 1;
}
