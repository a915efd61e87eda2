# Plots the scattering profile of a TAVROLIN data table: the normalised net signal
# and its running median against the scattering angle. Given a frame's profile.tsv
# from tavrolin-night (the table's columns and the uncertainties after them), it
# draws the 1-sigma bands of both as well.
#
#   gnuplot -e "data='tavrolin_data.txt'; output='profile.png'" scripts/plot_profile.gp
#   gnuplot -e "data='night/frame_01/profile.tsv'; output='profile.png'" scripts/plot_profile.gp
#
# Optional: truth='scene_truth.txt' draws the sample scene's true profile as well;
# logy=1 plots the signal on a logarithmic scale (rows with a signal of zero or
# below are then left out).

if (!exists("data")) data = "tavrolin_data.txt"
if (!exists("output")) output = "profile.png"
if (!exists("logy")) logy = 0

if (strstrt(GPVAL_TERMINALS, "pngcairo") > 0) {
    set terminal pngcairo size 900,560 font ",10"
} else {
    set terminal png size 900,560
}
set output output

set datafile separator "\t"
set title "Scattering profile: ".data noenhanced
set xlabel "scattering angle (deg)"
set ylabel "signal / signal at 90 deg"
set grid
set key top right
if (logy) { set logscale y }

# Columns of the table: 7 scattering angle, 8 signal, 9 running median; of a
# profile.tsv also 13 sigma of the signal and 14 sigma of the running median.
stats data skip 1 using 1 nooutput
if (STATS_columns >= 14) {
    set style fill transparent solid 0.3 noborder
    bands = "data skip 1 using 7:($8-$13):($8+$13) with filledcurves lc rgb '#9ab7d3' title 'signal +- 1 sigma', ".\
            "data skip 1 using 7:($9-$14):($9+$14) with filledcurves lc rgb '#e59866' title 'running median +- 1 sigma', "
    points = "with points pt 7 ps 0.3 lc rgb '#5d8aa8'"
} else {
    bands = ""
    points = "with points pt 7 ps 0.3 lc rgb '#9ab7d3'"
}
if (exists("truth")) {
    eval "plot ".bands."data skip 1 using 7:8 ".points." title 'signal', ".\
         "data skip 1 using 7:9 with lines lw 2 lc rgb '#1f4e79' title 'running median', ".\
         "truth skip 1 using 3:6 with lines lw 1 dt 2 lc rgb '#c0392b' title 'truth'"
} else {
    eval "plot ".bands."data skip 1 using 7:8 ".points." title 'signal', ".\
         "data skip 1 using 7:9 with lines lw 2 lc rgb '#1f4e79' title 'running median'"
}
