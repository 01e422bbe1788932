# varlox-plot.awk: the awk side of varlox-plot, which runs one job of it at a time as
#
#     work=SCRATCH LC_ALL=C awk -v job=JOB [-v NAME=VALUE...] -f varlox-plot.awk <INPUT
#
# Each section below is one job: what it reads, the variables it takes, what it writes.
# The scratch folder's path comes through the environment (ENVIRON["work"]): -v would
# read the backslashes of a path as escapes. Jobs that read no input end in BEGIN; the
# others read standard input. It lies beside varlox-plot, or in ../share/varlox from an
# installed one's folder.

# --- quote: the bytes of a text, as od -An -v -tu1 lists them, as the inside of a
# double-quoted gnuplot string that holds exactly those bytes: every byte but letters,
# digits, space and . , / - _ is written as an octal escape, and so is a digit after an
# escape (gnuplot reads "\0501" as "\501").
job == "quote" {
    for (i = 1; i <= NF; i++) {
        c = $i + 0
        plain = c >= 65 && c <= 90 || c >= 97 && c <= 122 || c == 32 || c == 44 ||
            c == 45 || c == 46 || c == 47 || c == 95 || c >= 48 && c <= 57 && !escaped
        if (plain) printf "%c", c; else printf "\\%03o", c
        escaped = !plain
    }
}

# --- depth: status 0 when the number depth lies above 0 and at most 300.
BEGIN { if (job == "depth") exit !(depth + 0 > 0 && depth + 0 <= 300) }

# --- read: checks one file, folded into lines of at most a mebibyte, and writes what is
# drawn of it into the scratch folder, for the file's number k: aK and pK (cycles per
# side, amplitude or power) of a radial profile, sK (cycles per side, per pixel, per
# metre or 0, psd) of a full profile with psd, pK and sK (direction, power or psd) of an
# angular spectrum, kK (cycles per side, per pixel, per metre or -, period in pixels, in
# metres or -, direction) of a peaks file, aK (lag distance, mean autocorrelation) of an
# autocorrelation's decay. Rows at 0, the zero frequency and the zero lag are left out.
# what is both, amplitude, power or psd. Prints one line "KIND ROWS ZERO_AMPLITUDES
# ZERO_POWERS ZERO_PSDS FIRST LAST LENGTH SIDE": KIND is varlox, full, angles, peaks or
# acf, FIRST and LAST the first and last bin (or ring), LENGTH the side in metres when
# the file has cycles per metre (for acf: m when its lags are in metres), SIDE the side
# in pixels when it has cycles per pixel (else -).
# Columns of varlox-view's files are found by their names in the header. Status 5: not
# one of these files (the line number is printed), 6: no rows, 7: nothing above 0 in the
# columns drawn, 8: no psd column for --psd. A CR before each line end is accepted.
BEGIN {
    if (job == "read") {
        adata = ENVIRON["work"] "/a" k; pdata = ENVIRON["work"] "/p" k
        sdata = ENVIRON["work"] "/s" k; kdata = ENVIRON["work"] "/k" k
        # varlox's profile opens with these lines, as analysis/profile.cpp writes them
        # (tests/check_output_copies.sh compares the two).
        varlox_header[1] = "Wavenumber[m-1] = frequency / L[m]"
        varlox_header[2] = "L[m] : the actual distance of the side length of the calculated square image"
        varlox_header[3] = ""
        varlox_header[4] = "frequency,amplitude,power"
    }
}
function refuse(code) { status = code; exit }
# The columns of a header line, by name; 0 when the names are not plain or repeat.
function columns(line,   h, i, n) {
    n = split(line, h, ",")
    for (i = 1; i <= n; i++) {
        if (h[i] !~ /^[a-z_]+$/ || h[i] in col) return 0
        col[h[i]] = i
    }
    return n
}
function has(name) { return name in col }
# One radial row: its bin (ascending), cycles per side and the two means.
function row(b, cycles, amp, pow) {
    if (rows > 0 && b <= bin) refuse(5)
    bin = b
    if (rows == 0) first = bin
    rows++
    if (cycles <= 0) return  # the zero frequency: no place on a log axis
    if (amp > 0) print cycles, amp >adata; else za++
    if (pow > 0) print cycles, pow >pdata; else zp++
}
job == "read" { sub(/\r$/, "") }
job == "read" && NR == 1 && /^bin,cycles_per_side(,|$)/ {
    kind = "full"; fields = columns($0)
    if (!fields || !has("mean_amplitude") || !has("mean_power") || !has("weight")) refuse(5)
    if (what == "psd" && !(has("psd") && has("cycles_per_pixel"))) refuse(8)
    next
}
job == "read" && NR == 1 && /^direction_deg,/ {
    kind = "angles"; fields = columns($0)
    if (!fields || !has("mean_power") || !has("psd")) refuse(5)
    next
}
job == "read" && NR == 1 && /^ring,distance_(px|m),/ {
    kind = "acf"; fields = columns($0)
    if (!fields || !has("mean_acf") || !has("lags")) refuse(5)
    dcol = has("distance_m") ? col["distance_m"] : col["distance_px"]
    if (has("distance_m")) length_m = "m"
    next
}
job == "read" && NR == 1 && /^rank,/ {
    kind = "peaks"; fields = columns($0)
    if (!fields || !has("cycles_per_side") || !has("cycles_per_pixel") || !has("period_px") ||
        !has("direction_deg")) refuse(5)
    next
}
job == "read" && NR <= 4 && (NR == 1 || kind == "varlox") {
    if ($0 != varlox_header[NR]) refuse(5)
    kind = "varlox"
    next
}
job == "read" && kind == "varlox" {
    e = "[0-9]\\.[0-9][0-9][0-9][0-9][0-9][0-9]e[-+][0-9][0-9][0-9]*"
    if ($0 !~ ("^[0-9][0-9]*," e "," e "$")) refuse(5)
    split($0, f, ",")
    row(f[1] + 0, f[1] / 2, f[2] + 0, f[3] + 0)
    next
}
job == "read" {
    # varlox-view's files: numbers as %.17g writes them (nan and inf are not drawn).
    g = "-?[0-9][0-9]*(\\.[0-9]*)?(e[-+][0-9][0-9]*)?"
    if (split($0, f, ",") != fields) refuse(5)
    # An autocorrelation's file leaves cells empty: its rings and its directions differ
    # in number, and a direction without a crossing has none.
    for (i = 1; i <= fields; i++) if (f[i] !~ ("^" g "$") && !(kind == "acf" && f[i] == "")) refuse(5)
}
job == "read" && kind == "full" {
    if (f[1] !~ /^[0-9][0-9]*$/ || f[2] + 0 != f[1] / 2) refuse(5)
    cps = f[2] + 0
    cpm = has("cycles_per_metre") ? f[col["cycles_per_metre"]] + 0 : 0
    cpp = has("cycles_per_pixel") ? f[col["cycles_per_pixel"]] + 0 : 0
    if (cpm > 0 && length_m == "") length_m = cps / cpm
    if (cpp > 0 && side == "") side = cps / cpp
    row(f[1] + 0, cps, f[col["mean_amplitude"]] + 0, f[col["mean_power"]] + 0)
    if (has("psd") && cps > 0) {
        prows++
        if (f[col["psd"]] + 0 > 0) printf "%s %s %s %s\n", f[2], cpp, cpm, f[col["psd"]] >sdata
        else zs++
    }
    next
}
job == "read" && kind == "angles" {
    d = f[1] + 0
    if (f[1] !~ /^[0-9][0-9]*(\.[0-9]*)?$/ || d >= 180 || (rows > 0 && d <= bin)) refuse(5)
    bin = d; rows++; prows++
    if (f[col["mean_power"]] + 0 > 0) print d, f[col["mean_power"]] >pdata; else zp++
    if (f[col["psd"]] + 0 > 0) print d, f[col["psd"]] >sdata; else zs++
    next
}
job == "read" && kind == "acf" {
    if (f[1] == "") next  # past the last ring
    if (f[1] !~ /^[0-9][0-9]*$/ || f[dcol] == "" || f[col["mean_acf"]] == "" || (rows > 0 && f[1] + 0 <= bin)) refuse(5)
    bin = f[1] + 0
    if (rows++ == 0) first = bin
    if (f[dcol] + 0 > 0) print f[dcol], f[col["mean_acf"]] >adata
    next
}
job == "read" && kind == "peaks" {
    rows++
    cpm = has("cycles_per_metre") ? f[col["cycles_per_metre"]] : "-"
    pm = has("period_m") ? f[col["period_m"]] : "-"
    print f[col["cycles_per_side"]], f[col["cycles_per_pixel"]], cpm, f[col["period_px"]], pm,
        f[col["direction_deg"]] >kdata
    next
}
END {
    if (job == "read") {
        if (status) { if (status == 5) print NR; exit status }
        if (kind == "varlox" && NR < 4) { print NR + 1; exit 5 }
        if (NR == 0) { print 1; exit 5 }
        if (kind == "varlox" && what == "psd") what = "both"  # refused later, by kind
        if (kind != "peaks") {
            if (rows == 0 || rows - ((kind == "full" || kind == "acf") && first == 0) == 0) exit 6
            drawn = (kind == "acf") ? 1 : (what == "psd" || kind == "angles" && what != "power") ? (zs < prows) : \
                (what != "power" && za < rows) + (what != "amplitude" && zp < rows)
            if (!drawn) exit 7
        }
        printf "" >adata; printf "" >pdata; printf "" >sdata; printf "" >kdata
        print kind, rows + 0, za + 0, zp + 0, zs + 0, first + 0, bin + 0,
            (length_m == "" ? "-" : sprintf("%.6g", length_m)), (side == "" ? "-" : sprintf("%.0f", side))
    }
}

# --- summary: what varlox-view's NAME-summary.csv holds, folded as for read, from the
# columns named in its header. With part fit, its fit as one line "SLOPE ERROR HURST
# FROM TO INTERCEPT" (ERROR, HURST and INTERCEPT - when missing), nothing when it holds
# no fit (an empty slope); the intercept is the fitted psd at a frequency of 1 (psd =
# INTERCEPT f^SLOPE). With part unit, the height unit when it is a plain one (letters
# and µ only, nothing a plot's text would read as markup), else nothing. With part acf,
# "SAL THRESHOLD", nothing when it holds no Sal. Status 5 when the file is not such a
# summary.
function value(name) { return (name in col) ? f[col[name]] : "-" }
job == "summary" { sub(/\r$/, "") }
job == "summary" && NR == 1 {
    n = split($0, h, ",")
    for (i = 1; i <= n; i++) col[h[i]] = i
    if (h[1] != "picture" || !("psd_slope" in col) || !("fit_from" in col) || !("fit_to" in col)) { bad = 1; exit }
    next
}
job == "summary" { last_row = $0 }
END {
    if (job == "summary") {
        if (bad || NR < 2) exit 5
        # The picture comes first, quoted when it holds commas or line ends: the
        # numbers are counted from the end of the last line.
        m = split(last_row, r, ",")
        if (m < n) exit 5
        for (i = 2; i <= n; i++) f[i] = r[m - n + i]
        num = "^-?[0-9][0-9]*(\\.[0-9]*)?(e[-+][0-9][0-9]*)?$"
        if (part == "unit") {
            if (value("height_unit") ~ /^([A-Za-z]|\302\265)+$/) print value("height_unit")
            exit
        }
        if (part == "acf") {
            if (value("sal") ~ num && value("sal") + 0 > 0 && value("acf_threshold") ~ num) print value("sal"), value("acf_threshold")
            exit
        }
        slope = value("psd_slope")
        if (slope == "" || slope ~ /nan|inf/) exit  # no fit
        if (slope !~ num || value("fit_from") !~ num || value("fit_to") !~ num) exit 5
        e = value("psd_slope_error"); hu = value("hurst"); a = value("psd_intercept")
        print slope, (e ~ num ? e : "-"), (hu ~ num ? hu : "-"), value("fit_from"), value("fit_to"),
            (a ~ num && a + 0 > 0 ? a : "-")
    }
}

# --- utf8: the bytes of a text, as od -An -v -tu1 lists them, as printf's octal escapes
# of valid UTF-8 that XML accepts: every byte that does not belong to a well-formed
# character, and every control character but tab, becomes U+FFFD.
job == "utf8" { for (i = 1; i <= NF; i++) b[n++] = $i + 0 }
END {
    if (job == "utf8") {
        for (i = 0; i < n;) {
            c = b[i]; len = 0; lo = 128; hi = 191
            if (c >= 32 && c < 128 || c == 9) len = 1
            else if (c >= 194 && c <= 223) len = 2
            else if (c >= 224 && c <= 239) { len = 3; if (c == 224) lo = 160; if (c == 237) hi = 159 }
            else if (c >= 240 && c <= 244) { len = 4; if (c == 240) lo = 144; if (c == 244) hi = 143 }
            ok = len > 0 && i + len <= n
            if (ok && len > 1 && (b[i + 1] < lo || b[i + 1] > hi)) ok = 0
            for (j = 2; ok && j < len; j++) if (b[i + j] < 128 || b[i + j] > 191) ok = 0
            if (ok && c == 239 && b[i + 1] == 191 && b[i + 2] >= 190) ok = 0  # U+FFFE, U+FFFF
            if (!ok) { printf "\\357\\277\\275"; i++; continue }
            for (j = 0; j < len; j++) printf "\\%03o", b[i + j]
            i += len
        }
    }
}

# --- shorten: the text of one line, or when it has more than width characters (in
# UTF-8) its start and end around "...", width characters in all.
# The characters of S in UTF-8: its bytes less its continuation bytes.
function chars(s) { return length(s) - gsub(/[\200-\277]/, "&", s) }
# The bytes of the first K characters of S.
function lead(s, k,   j, c) {
    c = 0
    for (j = 1; j <= length(s); j++) if (substr(s, j, 1) !~ /[\200-\277]/ && ++c > k) break
    return substr(s, 1, j - 1)
}
job == "shorten" {
    n = chars($0)
    if (n <= width) { printf "%s", $0; exit }
    head = int((width - 3) / 2); tail = width - 3 - head
    printf "%s...%s", lead($0, head), substr($0, length(lead($0, n - tail)) + 1)
    exit
}

# --- wrap: the text of one line broken into lines of at most width characters, at
# spaces where it can, inside a word longer than a line where it must; at most most
# lines, the middle ones given up for "..." beyond that. Characters are counted in UTF-8.
function put(s) { out[lines++] = s }
job == "wrap" {
    text = $0; line = ""
    w = split(text, word, " ")
    for (i = 1; i <= w; i++) {
        piece = word[i]
        while (chars(piece) > width) {
            if (line != "") { put(line); line = "" }
            put(lead(piece, width)); piece = substr(piece, length(lead(piece, width)) + 1)
        }
        if (line == "") line = piece
        else if (chars(line) + 1 + chars(piece) <= width) line = line " " piece
        else { put(line); line = piece }
    }
    if (line != "") put(line)
}
END {
    if (job == "wrap") {
        if (lines > most) {  # the first MOST - 1 lines, "...", the last line
            out[most - 2] = out[most - 2] " ..."; out[most - 1] = out[lines - 1]; lines = most
        }
        for (i = 0; i < lines; i++) printf "%s%s", (i ? "\n" : ""), out[i]
    }
}

# --- curve: the points of one curve, "X Y" a line, from the columns x and y of the rows
# read wrote; with len and side set, Y is a psd in z^2 m^2 and is turned into z^2 px^2,
# divided by the pixel's area (len / side)^2.
job == "curve" {
    if (len == "") print $x, $y
    else printf "%s %.17g\n", $x, $y * (side / len) ^ 2
}

# --- stats: over the curves 1 to curves of the scratch folder (curve1, curve2, ...), the
# lowest frequency (or direction) above 0, the highest, and the floor depth decades
# below the largest value, as one line "LOW HIGH FLOOR"; then a line per curve, the
# number of its rows below the floor.
BEGIN {
    if (job == "stats") {
        for (k = 1; k <= curves; k++) {
            file = ENVIRON["work"] "/curve" k
            while ((getline line <file) > 0) {
                split(line, f, " ")
                v = f[2] + 0; u = f[1] + 0
                if (top == "" || v > top) top = v
                if (u > 0 && (lo == "" || u < lo)) lo = u
                if (hi == "" || u > hi) hi = u
            }
            close(file)
        }
        floor = top / 10 ^ depth
        printf "%.17g %.17g %.17g\n", lo, hi, floor
        for (k = 1; k <= curves; k++) {
            file = ENVIRON["work"] "/curve" k
            below = 0
            while ((getline line <file) > 0) { split(line, f, " "); if (f[2] + 0 < floor) below++ }
            close(file)
            print below
        }
        exit
    }
}

# --- fit: the ends of a fitted power law psd = 10^a f^slope over the band from..to, as
# two lines "X Y" in the plot's unit (side, pixel or metre), from the rows of a full
# profile's psd that read wrote (sK) and the profile's length len (or -) and side. The
# fit's frequencies are the profile's own: cycles per metre with a length, else cycles
# per side. The intercept a, when the summary does not give it (-), is the mean of
# log10 psd - slope log10 f over the rows in the band (least squares with the slope
# given); status 1 when no row lies in the band.
job == "fit" {
    fcol = (len == "-") ? 1 : 3
    if ($fcol >= from * (1 - 1e-12) && $fcol <= to * (1 + 1e-12)) { sum += log($4) / log(10) - slope * log($fcol) / log(10); m++ }
}
END {
    if (job == "fit") {
        if (a == "-") {
            if (m == 0) exit 1
            a = sum / m
        } else a = log(a) / log(10)
        # From the profile's units into the plot's: x times cx, psd times cy.
        cx = 1; cy = 1
        if (unit == "pixel") { if (len == "-") cx = 1 / side; else { cx = len / side; cy = (side / len) ^ 2 } }
        for (i = 0; i < 2; i++) {
            fq = i ? to : from
            printf "%.17g %.17g\n", fq * cx, 10 ^ a * fq ^ slope * cy
        }
    }
}

# --- half: half the side of a full profile whose last bin, the corner's, is last: that
# bin is 2 sqrt(2) half + 1 rounded down for half = side/2 rounded down.
BEGIN { if (job == "half") { printf "%d\n", last / (2 * sqrt(2)) + 0.5; exit } }

# --- edges: the grey marks of a full profile of side side (length len, or -) whose half
# side is half, as lines "X TAB end|half TAB SIDE LENGTH" in the plot's unit: where
# varlox's profile ends (half / 2 cycles) and the highest frequency along an axis lies
# (half cycles).
BEGIN {
    if (job == "edges") {
        c = (unit == "metre") ? 1 / len : (unit == "pixel") ? 1 / side : 1
        printf "%.6g\t%s\t%s\n%.6g\t%s\t%s\n", half / 2 * c, "end", side " " len, half * c, "half", side " " len
        exit
    }
}

# A length in metres, as 3 digits in m, mm, µm or nm.
function metres(v) {
    v += 0
    if (v >= 1) return sprintf("%.3g m", v)
    if (v >= 1e-3) return sprintf("%.3g mm", v * 1e3)
    if (v >= 1e-6) return sprintf("%.3g \302\265m", v * 1e6)
    return sprintf("%.3g nm", v * 1e9)
}

# --- peaks: the red marks of the rows of a peaks file that read wrote (kK), as lines
# "X TAB PERIOD": at the peak's direction on an angular plot (kind angles), else at its
# frequency in the plot's unit, labelled with its period (in m, mm or um against cycles
# per metre, else in pixels). Status 3 when the plot is drawn against cycles per metre
# and the file has none.
job == "peaks" {
    if (kind == "angles") x = $6
    else x = (unit == "metre") ? $3 : (unit == "pixel") ? $2 : $1
    if (x == "-") exit 3
    print x "\t" ((unit == "metre" && $5 != "-") ? metres($5) : sprintf("%.3g px", $4 + 0))
}

# --- sal: the mark of an autocorrelation's Sal, a line "X TAB TEXT" at sal, in metres
# with unit metre, else in pixels.
BEGIN {
    if (job == "sal") {
        printf "%.17g\tSal %s\n", sal, (unit == "metre") ? metres(sal) : sprintf("%.3g px", sal)
        exit
    }
}

# --- marktext: the grey marks' texts, from the lines edges wrote, qualified by side (and
# length) when several are drawn apart (several 1), as lines "X TAB TEXT".
job == "marktext" {
    split($0, mark, "\t")
    q = ""
    if (several) { split(mark[3], s, " "); q = (unit == "metre") ? " (" s[1] " px over " s[2] " m)" : " (side " s[1] ")" }
    text = (mark[2] == "end") ? "varlox's profile ends" q : (several && unit != "metre") ? "side " s[1] " / 2" : "side / 2" q
    print mark[1] "\t" text
}

# --- places: marks "X TAB TEXT" gathered by place, as lines "X TAB TEXTS": marks closer
# than a degree, or than 2 % in frequency, share one place and one label, their texts
# joined by "; " (each once).
job == "places" {
    split($0, mark, "\t")
    key = (unit == "degree") ? int(mark[1] + 0.5) : int(log(mark[1]) / log(10) * 100 + 0.5)
    if (!(key in seen)) { seen[key] = ++places; at[places] = mark[1] }
    i = seen[key]
    if (index("; " texts[i] "; ", "; " mark[2] "; ") == 0) texts[i] = texts[i] (texts[i] == "" ? "" : "; ") mark[2]
}
END { if (job == "places") for (i = 1; i <= places; i++) print at[i] "\t" texts[i] }

# --- stagger: the marks "X TAB TEXT TAB COLOUR" of a plot whose horizontal axis runs
# from lo * scale / widen to hi * scale * widen (on a log scale when logx is 1), each
# given the height of the graph at which its label, drawn upright and hanging down from
# there, starts, and the label's offset from its mark in characters (left of it, but
# right of a mark at the graph's left edge): "X TAB COLOUR TAB HEIGHT TAB OFFSET TAB
# TEXT". A label stands in the highest row that holds no label closer to it than a line
# of text; the rows lie one longest label apart. Where every row is taken, the label
# joins the nearest one's text and its own is left empty; that lengthens the longest
# label, so the rows are laid out again until they fit.
BEGIN { if (job == "stagger") { lo = lo * scale / widen; hi = hi * scale * widen } }
function place(x) {
    if (logx) return (log(x) - log(lo)) / (log(hi) - log(lo))
    return (x - lo) / (hi - lo)
}
# The rows' spacing for labels of up to k characters, in graph heights: a character
# upright, along a graph about 330 pixels high, and a margin.
function spacing(k) { return k * 0.021 + 0.06 }
job == "stagger" { n++; split($0, mm, "\t"); mx[n] = mm[1]; own[n] = mm[2]; mc[n] = mm[3]; gx[n] = place(mm[1]) }
END {
    if (job == "stagger") {
        gap = 0.032  # a line of text across a graph about 600 pixels wide
        # Left to right (insertion sort: a plot has few marks).
        for (i = 1; i <= n; i++) order[i] = i
        for (i = 2; i <= n; i++) for (j = i; j > 1 && gx[order[j]] < gx[order[j - 1]]; j--) { t = order[j]; order[j] = order[j - 1]; order[j - 1] = t }
        longest = 0
        for (i = 1; i <= n; i++) if (chars(own[i]) > longest) longest = chars(own[i])
        rowmax = int(0.9 / spacing(longest)); if (rowmax < 1) rowmax = 1
        while (1) {
            for (i = 1; i <= n; i++) { txt[i] = own[i]; lvl[i] = -1 }
            for (i = 1; i <= n; i++) {
                a = order[i]; host = 0; hd = 2
                for (rw = 0; rw < rowmax && lvl[a] < 0; rw++) {
                    d = 2  # the nearest label in row rw, in graph widths
                    for (j = 1; j < i; j++) if (lvl[order[j]] == rw) { e = gx[a] - gx[order[j]]; if (e < 0) e = -e; if (e < d) d = e }
                    if (d >= gap) lvl[a] = rw
                }
                if (lvl[a] >= 0) continue
                for (j = 1; j < i; j++) if (lvl[order[j]] >= 0) { e = gx[a] - gx[order[j]]; if (e < 0) e = -e; if (e < hd) { hd = e; host = order[j] } }
                txt[host] = txt[host] "; " own[a]; txt[a] = ""
            }
            longest = 0
            for (i = 1; i <= n; i++) if (chars(txt[i]) > longest) longest = chars(txt[i])
            fit = int(0.9 / spacing(longest)); if (fit < 1) fit = 1
            if (fit >= rowmax) break
            rowmax = fit
        }
        for (i = 1; i <= n; i++) {
            printf "%s\t%s\t%.3f\t%s\t%s\n", mx[i], mc[i], 0.97 - (lvl[i] < 0 ? 0 : lvl[i]) * spacing(longest),
                (gx[i] < gap ? "0.8" : "-0.8"), txt[i]
        }
    }
}

# --- lastline: the last line that is not blank.
job == "lastline" && NF { last_line = $0 }
END { if (job == "lastline") print last_line }
