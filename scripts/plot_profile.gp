# Plots the scattering profile of a TAVROLIN data table: the normalised net signal
# and its running median against the scattering angle. Given a frame's profile.tsv
# from tavrolin-night (the table's columns and the uncertainties after them), it
# draws the 1-sigma bands of both as well. Given a night's night_profile.tsv it draws
# the night's mean with its standard error and the median of the frames. Any other
# table is refused by name (exit status 1).
#
#   gnuplot -e "data='tavrolin_data.txt'; output='profile.png'" scripts/plot_profile.gp
#   gnuplot -e "data='night/frame_01/profile.tsv'; output='profile.png'" scripts/plot_profile.gp
#   gnuplot -e "data='night/night_profile.tsv'; output='profile.png'" scripts/plot_profile.gp
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
# The columns are taken by the names the table's header line gives them.
set datafile columnheaders
set title "Scattering profile: ".data noenhanced
set xlabel "scattering angle (deg)"
set ylabel "signal / signal at 90 deg"
set grid
set key top right
if (logy) { set logscale y }

header = system("grep -v '^#' '".data."' | head -n 1")
angle = "s.angle(deg)"
signal = "signal(arb.u.)"
median = "median(arb.u.)"
sigma_signal = "sigma.signal(arb.u.)"
sigma_median = "sigma.median(arb.u.)"
# A profile.tsv of tavrolin-night has the sigmas after the table's columns.
truth_line = exists("truth") ? ", truth using 's.angle(deg)':'signal(truth)' with lines lw 1 dt 2 lc rgb '#c0392b' title 'truth'" : ""
if (strstrt(header, "\tframes\t") > 0 && strstrt(header, "mean(arb.u.)") > 0 && strstrt(header, "sem(arb.u.)") > 0) {
    # A night's profile: the mean over the frames, its standard error, their median.
    set title "Night profile: ".data noenhanced
    set style fill transparent solid 0.3 noborder
    eval "plot data using angle:(column('mean(arb.u.)')-column('sem(arb.u.)')):(column('mean(arb.u.)')+column('sem(arb.u.)')) ".\
         "with filledcurves lc rgb '#9ab7d3' title 'mean +- standard error', ".\
         "data using angle:'mean(arb.u.)' with lines lw 2 lc rgb '#1f4e79' title 'mean of the frames', ".\
         "data using angle:'median(arb.u.)' with lines lw 1 lc rgb '#e67e22' title 'median of the frames'".truth_line
    exit
}
if (strstrt(header, "\t".signal."\t") == 0 || strstrt(header, angle) == 0) {
    print "plot_profile.gp: ".data." is neither a tavrolin data table, a frame's profile.tsv nor a night_profile.tsv"
    exit status 1
}
if (strstrt(header, sigma_signal) > 0) {
    set style fill transparent solid 0.3 noborder
    bands = "data using angle:(column(signal)-column(sigma_signal)):(column(signal)+column(sigma_signal)) ".\
            "with filledcurves lc rgb '#9ab7d3' title 'signal +- 1 sigma', ".\
            "data using angle:(column(median)-column(sigma_median)):(column(median)+column(sigma_median)) ".\
            "with filledcurves lc rgb '#e59866' title 'running median +- 1 sigma', "
    points = "with points pt 7 ps 0.3 lc rgb '#5d8aa8'"
} else {
    bands = ""
    points = "with points pt 7 ps 0.3 lc rgb '#9ab7d3'"
}
eval "plot ".bands."data using angle:signal ".points." title 'signal', ".\
     "data using angle:median with lines lw 2 lc rgb '#1f4e79' title 'running median'".truth_line
