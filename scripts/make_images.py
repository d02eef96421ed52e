#!/usr/bin/env python3
"""Writes the program's pictures (tray lists, status pictures, logo, siren, menu glyphs) as SVG
into resources/Images. Run it again after changing a drawing; the output is committed."""
import math
import os

OUT = os.path.join(os.path.dirname(__file__), "..", "resources", "Images")


def svg(size, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 {size} {size}">\n{body}\n</svg>\n')


def phone(color, lift=0.0, stroke="#1b1b1b"):
    # A desk telephone: body, dial and a handset that can be lifted by `lift` pixels.
    return f'''
  <g stroke="{stroke}" stroke-width="1" stroke-linejoin="round">
    <path d="M7 25 L9 17 Q16 14 23 17 L25 25 Z" fill="{color}"/>
    <circle cx="16" cy="21" r="3" fill="#f4f4f4"/>
    <g transform="translate(0,{-lift:.1f}) rotate({-lift*3:.1f} 16 12)">
      <path d="M5 13 Q5 8 10 8 L22 8 Q27 8 27 13 L24 14 Q23 11 21 11 L11 11 Q9 11 8 14 Z" fill="{color}"/>
    </g>
  </g>'''


def square(fill1, fill2):
    return (f'<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{fill1}"/><stop offset="1" stop-color="{fill2}"/>'
            f'</linearGradient></defs>\n'
            f'  <rect x="1" y="1" width="30" height="30" rx="5" fill="url(#g)" stroke="#0d1b3a" '
            f'stroke-width="1"/>')


def write(name, text):
    with open(os.path.join(OUT, name), "w", encoding="utf-8") as f:
        f.write(text)


def main():
    os.makedirs(OUT, exist_ok=True)
    # ilTrayIcon: 0 not connected, 1 connected (status tab), 2 idle tray, 3 connected tray.
    write("trayicon_0.svg", svg(32, '<circle cx="16" cy="16" r="14" fill="#d9dde3" stroke="#7a8594"/>'
                                + phone("#8a94a3") +
                                '<path d="M6 6 L26 26" stroke="#c0392b" stroke-width="3" stroke-linecap="round"/>'))
    write("trayicon_1.svg", svg(32, '<circle cx="16" cy="16" r="14" fill="#dff5df" stroke="#2e8b3a"/>'
                                + phone("#2e9e44") +
                                '<path d="M20 4 Q27 6 28 12 M19 7 Q24 8 25 12" fill="none" '
                                'stroke="#2e8b3a" stroke-width="1.6" stroke-linecap="round"/>'))
    write("trayicon_2.svg", svg(32, square("#4f8ff0", "#1646a8") + phone("#f2f5fa")))
    write("trayicon_3.svg", svg(32, square("#ffe45c", "#f0b400") + phone("#d3221c")))
    # ilTrayScanAnimate: a green figure running, 8 frames.
    for i in range(8):
        a = math.sin(i / 8 * 2 * math.pi)
        b = math.cos(i / 8 * 2 * math.pi)
        body = f'''<rect x="1" y="1" width="30" height="30" rx="5" fill="#eaf7ea" stroke="#2e7d32"/>
  <g stroke="#1f9d3a" stroke-width="3" stroke-linecap="round" fill="none">
    <circle cx="17" cy="6.5" r="2.8" fill="#1f9d3a" stroke="none"/>
    <path d="M16 10 L14 18"/>
    <path d="M15 12 L{15 + 6 * a:.1f} {15 - 2 * b:.1f}"/>
    <path d="M15 12 L{15 - 6 * a:.1f} {15 + 2 * b:.1f}"/>
    <path d="M14 18 L{14 + 6 * a:.1f} {23 + 2 * abs(b):.1f} L{14 + 8 * a:.1f} 28"/>
    <path d="M14 18 L{14 - 6 * a:.1f} {23 + 2 * abs(a):.1f} L{14 - 7 * a:.1f} 28"/>
  </g>
  <circle cx="{6 + 20 * i / 7:.1f}" cy="29" r="1" fill="#2e7d32"/>'''
        write(f"trayscan_{i}.svg", svg(32, body))
    # ilTrayUpdateAnimate: the idle telephone with its handset moving slightly, 4 frames.
    for i, lift in enumerate([0, 1.2, 2.2, 1.2]):
        write(f"trayupdate_{i}.svg", svg(32, square("#4f8ff0", "#1646a8") + phone("#f2f5fa", lift)
                                         + f'<path d="M24 {27 - i:.0f} l3 0 l-1.5 -3 z" fill="#9fe870"/>'))
    # ilTrayAlarmAnimate: the telephone on a dark red and on a bright red square.
    write("trayalarm_0.svg", svg(32, square("#8e1010", "#520808") + phone("#f7d4d4")))
    write("trayalarm_1.svg", svg(32, square("#ff4a3a", "#d40f0f") + phone("#ffffff")))
    # The siren of the alarm dialogs: a red beacon whose glow grows over 5 frames.
    for i in range(5):
        r = 6 + i * 2.4
        op = 0.25 + i * 0.15
        rays = "".join(
            f'<path d="M16 14 L{16 + (8 + i * 1.6) * math.cos(t):.1f} {14 + (8 + i * 1.6) * math.sin(t):.1f}" '
            f'stroke="#ffb400" stroke-width="1.4" stroke-linecap="round" opacity="{op:.2f}"/>'
            for t in [math.pi * (1 + k / 6) for k in range(7)])
        body = f'''<defs><radialGradient id="glow" cx="0.5" cy="0.5" r="0.5"><stop offset="0" stop-color="#ff3b30" stop-opacity="{op:.2f}"/>
  <stop offset="1" stop-color="#ff3b30" stop-opacity="0"/></radialGradient>
  <linearGradient id="dome" x1="0" y1="0" x2="1" y2="0"><stop offset="0" stop-color="#b30000"/>
  <stop offset="0.45" stop-color="#ff5a4f"/><stop offset="1" stop-color="#9c0000"/></linearGradient></defs>
  <circle cx="16" cy="15" r="{r:.1f}" fill="url(#glow)"/>
  {rays}
  <path d="M9 25 L9 15 Q9 8 16 8 Q23 8 23 15 L23 25 Z" fill="url(#dome)" stroke="#5c0000"/>
  <ellipse cx="13.5" cy="13" rx="1.6" ry="3" fill="#ffffff" opacity="{0.4 + i * 0.12:.2f}"/>
  <rect x="6" y="25" width="20" height="5" rx="1.5" fill="#3a3a3a" stroke="#111"/>'''
        write(f"siren_{i}.svg", svg(32, body))
    # The product logo on the status tab: a shield with a telephone.
    write("logo.svg", '''<svg xmlns="http://www.w3.org/2000/svg" width="96" height="96" viewBox="0 0 96 96">
  <defs><linearGradient id="s" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#3f86f2"/>
  <stop offset="1" stop-color="#0f3c96"/></linearGradient></defs>
  <path d="M48 4 L86 16 Q86 62 48 92 Q10 62 10 16 Z" fill="url(#s)" stroke="#0a2660" stroke-width="3"/>
  <path d="M48 12 L78 21 Q77 58 48 83 Z" fill="#ffffff" opacity="0.12"/>
  <g transform="translate(16,22) scale(2)" stroke="#0a2660" stroke-width="0.8">
    <path d="M7 25 L9 17 Q16 14 23 17 L25 25 Z" fill="#ffd84a"/>
    <circle cx="16" cy="21" r="3" fill="#fff"/>
    <path d="M5 13 Q5 8 10 8 L22 8 Q27 8 27 13 L24 14 Q23 11 21 11 L11 11 Q9 11 8 14 Z" fill="#ffd84a"/>
  </g>
</svg>
''')
    # Status-tab update picture and the scan result "all clear" picture.
    write("update.svg", svg(48, '''<circle cx="24" cy="24" r="21" fill="#e8f1ff" stroke="#2a63c9" stroke-width="2"/>
  <path d="M24 10 L24 30 M16 23 L24 31 L32 23" fill="none" stroke="#2a63c9" stroke-width="4"
   stroke-linecap="round" stroke-linejoin="round"/><rect x="13" y="34" width="22" height="4" rx="2" fill="#2a63c9"/>'''))
    write("searchok.svg", svg(48, '''<circle cx="24" cy="24" r="21" fill="#e6f7e6" stroke="#2e9e44" stroke-width="2"/>
  <path d="M13 25 L21 33 L36 16" fill="none" stroke="#2e9e44" stroke-width="5" stroke-linecap="round"
   stroke-linejoin="round"/>'''))
    # il16: menu glyphs (1 close, 3 break connection) and button glyphs.
    write("il16_close.svg", svg(16, '''<circle cx="8" cy="8" r="7" fill="#d9342b" stroke="#7d1410"/>
  <path d="M8 3.5 L8 8.5 M5 5.2 A4.2 4.2 0 1 0 11 5.2" fill="none" stroke="#fff" stroke-width="1.6"
   stroke-linecap="round"/>'''))
    write("il16_break.svg", svg(16, '''<path d="M2 10 Q2 6 5 6 L11 6 Q14 6 14 10 L12 11 Q11.5 9 10 9 L6 9 Q4.5 9 4 11 Z"
   fill="#d9342b" stroke="#7d1410" stroke-width="0.8"/><path d="M3 3 L13 13" stroke="#222" stroke-width="1.5"/>'''))
    write("glyph_help.svg", svg(16, '''<circle cx="8" cy="8" r="7" fill="#2f6fdc" stroke="#173f86"/>
  <path d="M5.8 6 Q6 3.6 8.2 3.6 Q10.6 3.8 10.4 6 Q10.2 7.4 8.4 8.2 L8.2 9.6" fill="none" stroke="#fff"
   stroke-width="1.6" stroke-linecap="round"/><circle cx="8.2" cy="12" r="1" fill="#fff"/>'''))
    write("glyph_ok.svg", svg(16, '''<path d="M3 8.5 L6.5 12 L13 4.5" fill="none" stroke="#2e9e44" stroke-width="2.4"
   stroke-linecap="round" stroke-linejoin="round"/>'''))


if __name__ == "__main__":
    main()
