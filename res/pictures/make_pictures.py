#!/usr/bin/env python3
"""Writes the program's pictures (the SVG files beside this script).

The pictures share their colours and building blocks (the banner's layers,
the table drum, the button shapes), so they are made here rather than edited
one by one: change this script, run it, and look at the result with
`cmake --build <build> --target orv_picture_sheet` (pictures-sheet.png and
pictures-sheet-zoom.png in the build folder).

The main icon, orvane-tamsin-dbf.svg, is kept by hand; drum() below draws
the same drum and badge wherever the other pictures show the logo.

The banner's three pieces use vertical gradients only, so the stretched
middle piece meets the left and right pieces without a seam.
"""
import os

OUT = os.path.dirname(os.path.abspath(__file__))
FONT='font-family="sans-serif"'
def w(name, width, height, body, defs=''):
    s=f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" viewBox="0 0 {width} {height}">\n'
    if defs: s+=f'  <defs>\n{defs}  </defs>\n'
    s+=body+'</svg>\n'
    open(os.path.join(OUT,name+'.svg'),'w').write(s)

# ---- shared banner layers (vertical only, so the pieces meet seamlessly) ----
BANNER_DEFS='''    <linearGradient id="strip" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#0c1829"/>
      <stop offset="1" stop-color="#11213a"/>
    </linearGradient>
    <linearGradient id="main" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#1c365a"/>
      <stop offset="1" stop-color="#142843"/>
    </linearGradient>
'''
def banner_base(width):
    return f'''  <rect x="0" y="0" width="{width}" height="56" fill="url(#strip)"/>
  <rect x="0" y="56" width="{width}" height="166" fill="url(#main)"/>
  <rect x="0" y="56" width="{width}" height="1" fill="#ffffff" fill-opacity="0.10"/>
  <rect x="0" y="222" width="{width}" height="7" fill="#2bb3a3"/>
'''

DRUM_DEFS='''    <linearGradient id="drum" x1="0" y1="0" x2="1" y2="0">
      <stop offset="0" stop-color="#dfe9f3"/>
      <stop offset="0.55" stop-color="#ffffff"/>
      <stop offset="1" stop-color="#c3d3e4"/>
    </linearGradient>
    <linearGradient id="badge" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#ffd166"/>
      <stop offset="1" stop-color="#f4a03a"/>
    </linearGradient>
'''
def drum(tx, ty, scale, ring='#142843'):
    # The table drum with the repaired check badge, drawn in a 256 box.
    return f'''  <g transform="translate({tx},{ty}) scale({scale})">
    <path d="M58 70 v108 c0 14 31 26 70 26 s70 -12 70 -26 v-108 z" fill="url(#drum)"/>
    <ellipse cx="128" cy="70" rx="70" ry="24" fill="#f3f7fb"/>
    <ellipse cx="128" cy="70" rx="70" ry="24" fill="none" stroke="#9fb6cf" stroke-width="3"/>
    <path d="M58 106 c0 14 31 26 70 26 s70 -12 70 -26" fill="none" stroke="#2bb3a3" stroke-width="6" stroke-linecap="round"/>
    <path d="M58 142 c0 14 31 26 70 26 s70 -12 70 -26" fill="none" stroke="#2bb3a3" stroke-width="6" stroke-linecap="round"/>
    <circle cx="184" cy="184" r="46" fill="{ring}"/>
    <circle cx="184" cy="184" r="40" fill="url(#badge)"/>
    <path d="M164 186 l14 14 l28 -30" fill="none" stroke="#122238" stroke-width="10" stroke-linecap="round" stroke-linejoin="round"/>
  </g>
'''

def table_pattern(x0, y0, cols, rows, cw, ch, gap, hl_row):
    s=''
    for r in range(rows):
        for c in range(cols):
            op = 0.30 if r==hl_row else 0.07
            col = '#2bb3a3' if r==hl_row else '#ffffff'
            s+=f'  <rect x="{x0+c*(cw+gap)}" y="{y0+r*(ch+gap)}" width="{cw}" height="{ch}" rx="2" fill="{col}" fill-opacity="{op}"/>\n'
    return s

# banner_left 460x229
body=banner_base(460)
body+='''  <circle cx="88" cy="140" r="74" fill="#ffffff" fill-opacity="0.04"/>
'''
body+=drum(26,78,0.47,ring='#1a3254')
body+=f'''  <text x="180" y="164" {FONT} font-size="22" font-weight="bold" fill="#ffffff">Orvane Tamsin <tspan fill="#ffd166">DBF</tspan></text>
  <text x="181" y="190" {FONT} font-size="11.5" fill="#9fb6cf">dBASE · FoxPro · Clipper · Visual FoxPro</text>
'''
w('banner_left',460,229,body,BANNER_DEFS+DRUM_DEFS)
w('banner_middle',40,229,banner_base(40),BANNER_DEFS)
# banner_right 260x229: a faint table, one row repaired, fading to the left
body=banner_base(260)
body+=table_pattern(40,128,6,4,30,14,5,2)
body+='''  <rect x="0" y="120" width="170" height="100" fill="url(#fade)"/>
'''
defs=BANNER_DEFS+'''    <linearGradient id="fade" x1="0" y1="0" x2="1" y2="0">
      <stop offset="0" stop-color="#172d4c" stop-opacity="1"/>
      <stop offset="1" stop-color="#172d4c" stop-opacity="0"/>
    </linearGradient>
'''
w('banner_right',260,229,body,defs)

# background 64x64
w('background',64,64,'  <rect width="64" height="64" fill="url(#bg)"/>\n','''    <linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#f3f6fa"/>
      <stop offset="1" stop-color="#e7edf4"/>
    </linearGradient>
''')
def footer_base(width):
    return f'''  <rect x="0" y="0" width="{width}" height="56" fill="#e7edf4"/>
  <rect x="0" y="56" width="{width}" height="1" fill="#cfd9e5"/>
  <rect x="0" y="57" width="{width}" height="43" fill="#f8fafc"/>
'''
w('footer_left',64,100,footer_base(64))
body=footer_base(420)
body+=drum(16,66,0.09,ring='#f8fafc')
body+=f'''  <text x="44" y="85" {FONT} font-size="11" fill="#7d8ca0">Orvane Tamsin DBF  5.01</text>
'''
w('footer_right',420,100,body,DRUM_DEFS)

# ---- toolbar buttons 58x50 ----
def toolbar(name, label, icon_normal, icon_hover):
    for hover in (False, True):
        bg=''
        if hover:
            bg='''  <rect x="1.5" y="1.5" width="55" height="47" rx="8" fill="#ffffff" fill-opacity="0.10" stroke="#2bb3a3" stroke-width="1"/>
'''
        lab = '#ffffff' if hover else '#c9d6e6'
        body=bg+f'''  <g transform="translate(17,4)">
{icon_hover if hover else icon_normal}  </g>
  <text x="29" y="43" {FONT} font-size="9.5" text-anchor="middle" fill="{lab}">{label}</text>
'''
        w(name+('_hover' if hover else ''),58,50,body)

def ic_add(line, accent):
    return f'''    <path d="M5 2.5 h9 l5.5 5.5 v13.5 h-14.5 z" fill="#ffffff" fill-opacity="0.08" stroke="{line}" stroke-width="1.7" stroke-linejoin="round"/>
    <path d="M14 2.5 v5.5 h5.5" fill="none" stroke="{line}" stroke-width="1.7" stroke-linejoin="round"/>
    <circle cx="18" cy="18" r="5.6" fill="{accent}"/>
    <path d="M18 15 v6 M15 18 h6" stroke="#0e1b2e" stroke-width="1.8" stroke-linecap="round"/>
'''
def ic_repair(line, accent):
    return f'''    <path d="M5.5 19 L13.5 11" stroke="{line}" stroke-width="3.6" stroke-linecap="round"/>
    <path d="M19.6 7.2 A4.8 4.8 0 1 1 15.6 3.3" fill="none" stroke="{line}" stroke-width="3" stroke-linecap="round"/>
    <path d="M4 5 l1 -2.2 l1 2.2 l2.2 1 l-2.2 1 l-1 2.2 l-1 -2.2 l-2.2 -1 z" fill="{accent}"/>
    <path d="M17 18 l0.8 -1.6 l0.8 1.6 l1.6 0.8 l-1.6 0.8 l-0.8 1.6 l-0.8 -1.6 l-1.6 -0.8 z" fill="{accent}"/>
'''
def ic_save(line, accent):
    return f'''    <path d="M3.5 14 v6 a1.5 1.5 0 0 0 1.5 1.5 h14 a1.5 1.5 0 0 0 1.5 -1.5 v-6" fill="none" stroke="{line}" stroke-width="1.9" stroke-linecap="round" stroke-linejoin="round"/>
    <path d="M12 2.5 v12" stroke="{accent}" stroke-width="2.4" stroke-linecap="round"/>
    <path d="M7.5 10.5 L12 15 L16.5 10.5" fill="none" stroke="{accent}" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round"/>
'''
def ic_settings(line, accent):
    return f'''    <circle cx="12" cy="12" r="8.6" fill="none" stroke="{line}" stroke-width="3" stroke-dasharray="3.38 3.38"/>
    <circle cx="12" cy="12" r="6.4" fill="none" stroke="{line}" stroke-width="3"/>
    <circle cx="12" cy="12" r="2.4" fill="{accent}"/>
'''
toolbar('button_add_files','Add Files',ic_add('#dce6f2','#2bb3a3'),ic_add('#ffffff','#ffd166'))
toolbar('button_repair','Repair',ic_repair('#dce6f2','#2bb3a3'),ic_repair('#ffffff','#ffd166'))
toolbar('button_save','Save',ic_save('#dce6f2','#2bb3a3'),ic_save('#ffffff','#ffd166'))
toolbar('button_settings','Settings',ic_settings('#dce6f2','#2bb3a3'),ic_settings('#ffffff','#ffd166'))

# ---- navigation buttons 50x38 ----
def nav(name, label, kind):
    for hover in (False, True):
        if kind=='next':
            top,bot = ('#3fd0bf','#26a596') if hover else ('#30bfae','#21917f')
            fill='url(#g)'; stroke='#1b7f72'; txt='#ffffff'
        elif kind=='stop':
            top,bot = ('#f26a6e','#d9363c') if hover else ('#e9575c','#c92f35')
            fill='url(#g)'; stroke='#a8262b'; txt='#ffffff'
        else:
            top,bot = ('#ffffff','#e6f6f4') if hover else ('#ffffff','#eef2f7')
            fill='url(#g)'; stroke='#2bb3a3' if hover else '#b4c2d3'; txt='#1d3557'
        defs=f'''    <linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="{top}"/>
      <stop offset="1" stop-color="{bot}"/>
    </linearGradient>
'''
        body=f'''  <rect x="1" y="5" width="48" height="30" rx="15" fill="#0f1d31" fill-opacity="{0.16 if hover else 0.10}"/>
  <rect x="1" y="3" width="48" height="30" rx="15" fill="{fill}" stroke="{stroke}" stroke-width="1"/>
'''
        if kind=='next':
            body+=f'''  <text x="8" y="22" {FONT} font-size="10" font-weight="bold" fill="{txt}">Next</text>
  <path d="M37.5 14 l3.6 4 l-3.6 4" fill="none" stroke="{txt}" stroke-width="1.9" stroke-linecap="round" stroke-linejoin="round"/>
'''
        elif kind=='back':
            body+=f'''  <path d="M12 14 l-3.6 4 l3.6 4" fill="none" stroke="{txt}" stroke-width="1.9" stroke-linecap="round" stroke-linejoin="round"/>
  <text x="15.5" y="22" {FONT} font-size="10" font-weight="bold" fill="{txt}">Back</text>
'''
        else:
            body+=f'''  <rect x="9" y="14.5" width="7" height="7" rx="1.2" fill="{txt}"/>
  <text x="19.5" y="22" {FONT} font-size="10" font-weight="bold" fill="{txt}">Stop</text>
'''
        w(name+('_hover' if hover else ''),50,38,body,defs)
nav('button_next','Next','next')
nav('button_back','Back','back')
nav('button_stop','Stop','stop')

# ---- home page 133x62 ----
def globe(cx, cy, r, line, width):
    return f'''  <circle cx="{cx}" cy="{cy}" r="{r}" fill="none" stroke="{line}" stroke-width="{width}"/>
  <ellipse cx="{cx}" cy="{cy}" rx="{r*0.45:.2f}" ry="{r}" fill="none" stroke="{line}" stroke-width="{width}"/>
  <path d="M{cx-r} {cy} h{2*r}" stroke="{line}" stroke-width="{width}"/>
  <path d="M{cx-r*0.86:.2f} {cy-r*0.5:.2f} h{r*1.72:.2f} M{cx-r*0.86:.2f} {cy+r*0.5:.2f} h{r*1.72:.2f}" stroke="{line}" stroke-width="{width*0.8:.2f}"/>
'''
for hover in (False, True):
    card_fill_op = 0.16 if hover else 0.08
    card_stroke = '#ffd166' if hover else '#ffffff'
    card_stroke_op = 0.9 if hover else 0.20
    circle = '#ffd166' if hover else '#2bb3a3'
    body=f'''  <rect x="4.5" y="8.5" width="124" height="46" rx="12" fill="#ffffff" fill-opacity="{card_fill_op}" stroke="{card_stroke}" stroke-opacity="{card_stroke_op}" stroke-width="1"/>
  <circle cx="26" cy="31.5" r="12.5" fill="{circle}"/>
'''
    body+=globe(26,31.5,7.8,'#0e1b2e',1.5)
    body+=f'''  <text x="45" y="29" {FONT} font-size="11.5" font-weight="bold" fill="#ffffff">Home Page</text>
  <text x="45" y="43" {FONT} font-size="10" fill="{'#ffe3a3' if hover else '#9fb6cf'}">Our website</text>
'''
    w('button_home_page'+('_hover' if hover else ''),133,62,body)

# ---- splash 480x300 ----
defs='''    <linearGradient id="sky" x1="0" y1="0" x2="1" y2="1">
      <stop offset="0" stop-color="#21406a"/>
      <stop offset="1" stop-color="#0f1d31"/>
    </linearGradient>
    <linearGradient id="fade" x1="0" y1="0" x2="1" y2="0">
      <stop offset="0" stop-color="#17304f" stop-opacity="1"/>
      <stop offset="1" stop-color="#17304f" stop-opacity="0"/>
    </linearGradient>
'''+DRUM_DEFS
body='''  <rect width="480" height="300" fill="url(#sky)"/>
  <rect x="0.5" y="0.5" width="479" height="299" fill="none" stroke="#ffffff" stroke-opacity="0.12"/>
  <circle cx="100" cy="140" r="96" fill="#ffffff" fill-opacity="0.04"/>
'''
body+=drum(24,58,0.62,ring='#1a3356')
body+=f'''  <text x="196" y="118" {FONT} font-size="30" font-weight="bold" fill="#ffffff">Orvane Tamsin</text>
  <text x="196" y="154" {FONT} font-size="30" font-weight="bold" fill="#ffd166">DBF Repair</text>
  <text x="197" y="184" {FONT} font-size="11" fill="#9fb6cf">dBASE · FoxPro · Clipper · Visual FoxPro</text>
  <text x="32" y="268" {FONT} font-size="11" fill="#7f97b6">Version 5.01</text>
  <rect x="0" y="294" width="480" height="6" fill="#2bb3a3"/>
'''
w('splash',480,300,body,defs)

# ---- dialog skins ----
def skin(name, width, height, header, button_band):
    defs='''    <linearGradient id="body" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#f8fafc"/>
      <stop offset="1" stop-color="#edf2f7"/>
    </linearGradient>
    <linearGradient id="head" x1="0" y1="0" x2="1" y2="1">
      <stop offset="0" stop-color="#21406a"/>
      <stop offset="1" stop-color="#132640"/>
    </linearGradient>
'''+DRUM_DEFS
    body=f'''  <rect width="{width}" height="{height}" fill="url(#body)"/>
  <rect x="0" y="{button_band}" width="{width}" height="{height-button_band}" fill="#e6ecf3"/>
  <rect x="0" y="{button_band}" width="{width}" height="1" fill="#d3dce7"/>
'''
    if header:
        body+=f'''  <rect x="0" y="0" width="{width}" height="{header}" fill="url(#head)"/>
  <rect x="0" y="{header}" width="{width}" height="3" fill="#2bb3a3"/>
'''
        body+=drum(18,10,0.30,ring='#1b3557')
        body+=f'''  <text x="100" y="48" {FONT} font-size="21" font-weight="bold" fill="#ffffff">Orvane Tamsin <tspan fill="#ffd166">DBF</tspan></text>
  <text x="101" y="70" {FONT} font-size="11" fill="#9fb6cf">Repair for damaged DBF tables and memo files</text>
'''
    else:
        body+=f'''  <rect x="0" y="0" width="{width}" height="4" fill="#2bb3a3"/>
'''
    w(name,width,height,body,defs)
skin('skin_about',440,300,92,246)
skin('skin_settings',370,180,0,134)
skin('skin_saving',360,140,0,96)

# ---- 16x16 icons ----
LINE='#3d5a80'
def icon(name, body):
    w(name,16,16,body)
DOC=f'''  <path d="M3.5 1.5 h6 l3 3 v10 h-9 z" fill="#ffffff" stroke="{LINE}" stroke-width="1" stroke-linejoin="round"/>
  <path d="M9.5 1.5 v3 h3" fill="#dfe7f0" stroke="{LINE}" stroke-width="1" stroke-linejoin="round"/>
'''
icon('menu_add_files', DOC+'''  <circle cx="11.5" cy="11.5" r="4" fill="#2bb3a3"/>
  <path d="M11.5 9.3 v4.4 M9.3 11.5 h4.4" stroke="#ffffff" stroke-width="1.4" stroke-linecap="round"/>
''')
icon('menu_save_files', f'''  <path d="M1.5 9.5 v4 a1 1 0 0 0 1 1 h11 a1 1 0 0 0 1 -1 v-4" fill="#dfe7f0" stroke="{LINE}" stroke-width="1.2" stroke-linejoin="round"/>
  <path d="M8 1.5 v8.5" stroke="#1f9d8f" stroke-width="1.8" stroke-linecap="round"/>
  <path d="M4.8 7 L8 10.2 L11.2 7" fill="none" stroke="#1f9d8f" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/>
''')
icon('menu_exit', f'''  <path d="M2.5 1.5 h7 v13 h-7 z" fill="#f4b942" stroke="#b07a18" stroke-width="1" stroke-linejoin="round"/>
  <circle cx="7.6" cy="8.2" r="0.9" fill="#6b4a0e"/>
  <path d="M9 8 h5.5" stroke="#d9363c" stroke-width="1.8" stroke-linecap="round"/>
  <path d="M12 5.3 l2.7 2.7 l-2.7 2.7" fill="none" stroke="#d9363c" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/>
''')
icon('menu_setting', f'''  <circle cx="8" cy="8" r="5.9" fill="none" stroke="{LINE}" stroke-width="2.4" stroke-dasharray="2.32 2.32"/>
  <circle cx="8" cy="8" r="4.3" fill="#dfe7f0" stroke="{LINE}" stroke-width="1.8"/>
  <circle cx="8" cy="8" r="1.6" fill="#2bb3a3"/>
''')
icon('menu_help', '''  <circle cx="8" cy="8" r="7" fill="#2bb3a3"/>
  <path d="M5.8 6.2 a2.2 2.2 0 1 1 3.2 2 c-0.7 0.4 -1 0.8 -1 1.6" fill="none" stroke="#ffffff" stroke-width="1.6" stroke-linecap="round"/>
  <circle cx="8" cy="12.2" r="1" fill="#ffffff"/>
''')
icon('menu_about', '''  <circle cx="8" cy="8" r="7" fill="#24416b"/>
  <circle cx="8" cy="4.6" r="1.1" fill="#ffffff"/>
  <path d="M8 7.2 v5" stroke="#ffffff" stroke-width="1.8" stroke-linecap="round"/>
''')
icon('menu_home_page', '''  <circle cx="8" cy="8" r="7" fill="#2bb3a3"/>
  <circle cx="8" cy="8" r="4.8" fill="none" stroke="#ffffff" stroke-width="1"/>
  <ellipse cx="8" cy="8" rx="2.1" ry="4.8" fill="none" stroke="#ffffff" stroke-width="1"/>
  <path d="M3.2 8 h9.6" stroke="#ffffff" stroke-width="1"/>
''')
icon('list_file_name', DOC+f'''  <path d="M5.5 7.5 h5 M5.5 9.5 h5 M5.5 11.5 h3.5" stroke="#2bb3a3" stroke-width="1.1" stroke-linecap="round"/>
''')
icon('list_file_location', '''  <path d="M1.5 3.5 h4.5 l1.5 1.5 h7 v8.5 h-13 z" fill="#f4b942" stroke="#b07a18" stroke-width="1" stroke-linejoin="round"/>
  <path d="M1.5 6.5 h13" stroke="#b07a18" stroke-width="1"/>
''')
icon('list_file_size', f'''  <rect x="2" y="9" width="3" height="5.5" rx="0.6" fill="#9fb6cf"/>
  <rect x="6.5" y="5.5" width="3" height="9" rx="0.6" fill="#2bb3a3"/>
  <rect x="11" y="1.5" width="3" height="13" rx="0.6" fill="{LINE}"/>
''')
CLOCK=f'''  <circle cx="7" cy="7" r="5.7" fill="#ffffff" stroke="{LINE}" stroke-width="1.2"/>
  <path d="M7 3.8 v3.4 l2.3 1.4" fill="none" stroke="{LINE}" stroke-width="1.2" stroke-linecap="round" stroke-linejoin="round"/>
'''
icon('list_creation_time', CLOCK+'''  <circle cx="12" cy="12" r="3.6" fill="#2bb3a3"/>
  <path d="M12 10 v4 M10 12 h4" stroke="#ffffff" stroke-width="1.3" stroke-linecap="round"/>
''')
icon('list_last_access_time', CLOCK+'''  <circle cx="12" cy="12" r="3.6" fill="#24416b"/>
  <ellipse cx="12" cy="12" rx="2.4" ry="1.5" fill="none" stroke="#ffffff" stroke-width="0.9"/>
  <circle cx="12" cy="12" r="0.8" fill="#ffffff"/>
''')
icon('list_last_written_time', CLOCK+'''  <circle cx="12" cy="12" r="3.6" fill="#f4a03a"/>
  <path d="M10.4 13.6 l0.3 -1.3 l2.4 -2.4 l1 1 l-2.4 2.4 z" fill="#ffffff"/>
''')
icon('list_file_type', '''  <path d="M1.5 2.5 v5 l7 7 l6 -6 l-7 -7 h-5 a1 1 0 0 0 -1 1 z" fill="#2bb3a3" stroke="#1b7f72" stroke-width="1" stroke-linejoin="round"/>
  <circle cx="5" cy="5" r="1.3" fill="#ffffff"/>
''')
