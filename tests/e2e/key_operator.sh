# A scripted operator for the key screen, sourced by the end-to-end scripts: it turns a text
# into one xdotool command line that keys it (presses, releases and sleeps in one process, so
# no process start-up falls between two edges).
#
#   operator_chain HOW TEXT UNIT_MS
# HOW: "button" presses mouse button 1 where the pointer is, "space" the Space bar (both a
# straight key: each element held for its length), "ctrl" and "brackets" the dit and dah
# paddle keys (Control_L/Control_R or bracketleft/bracketright): each element is started with
# a short press of its paddle and the keyer times it. Prints the xdotool arguments.
operator_chain() {
  local how=$1 text=$2 unit=$3
  awk -v how="$how" -v text="$text" -v unit="$unit" '
    BEGIN {
      split("A .- B -... C -.-. D -.. E . F ..-. G --. H .... I .. J .--- K -.- L .-.. " \
            "M -- N -. O --- P .--. Q --.- R .-. S ... T - U ..- V ...- W .-- X -..- " \
            "Y -.-- Z --.. 0 ----- 1 .---- 2 ..--- 3 ...-- 4 ....- 5 ..... 6 -.... " \
            "7 --... 8 ---.. 9 ----.", t, " ")
      for (i = 1; i in t; i += 2) code[t[i]] = t[i + 1]
      u = unit / 1000.0
      out = ""
      for (i = 1; i <= length(text); i++) {
        c = toupper(substr(text, i, 1))
        if (c == " ") { out = out sprintf(" sleep %.4f", 4 * u); continue }
        if (!(c in code)) continue
        e = code[c]
        for (j = 1; j <= length(e); j++) {
          len = substr(e, j, 1) == "-" ? 3 : 1
          if (how == "button") {
            out = out sprintf(" mousedown 1 sleep %.4f mouseup 1 sleep %.4f", len * u, u)
          } else if (how == "space") {
            out = out sprintf(" keydown space sleep %.4f keyup space sleep %.4f", len * u, u)
          } else {
            if (how == "ctrl") key = len == 1 ? "Control_L" : "Control_R"
            else key = len == 1 ? "bracketleft" : "bracketright"
            out = out sprintf(" keydown %s sleep %.4f keyup %s sleep %.4f", key, 0.5 * u, key,
                              (len + 0.5) * u)
          }
        }
        out = out sprintf(" sleep %.4f", 2 * u)
      }
      print substr(out, 2)
    }'
}
