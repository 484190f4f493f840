# Draws bench/run's data of many waitfors at once (FIGURES=concurrency): the clients' CPU and
# the p99 gap between a client's polls, against the number of clients, over HTTP and HTTPS,
# now and before.
#   gnuplot -e "data='bench/concurrency.dat'; out='bench/concurrency.png'; before=1" \
#           -e "heading='...'" bench/concurrency.gp
# Columns of the data: clients; now: HTTP cores, HTTP p99 (s), HTTPS cores, HTTPS p99 (s);
# then the same before ("-" where not measured, or for a p99 where no client made two polls).
# before=0 leaves the before lines out.
if (!exists("data")) data = 'bench/concurrency.dat'
if (!exists("out")) out = 'bench/concurrency.png'
if (!exists("before")) before = 1
if (!exists("heading")) heading = ''

# Crowds whose CPU was measured but none of whose clients got two status answers through in
# time have no p99 to draw: named under the picture. (Read with "-" as a value, not missing.)
array series[4] = ['HTTP now', 'HTTPS now', 'HTTP before', 'HTTPS before']
lost_note = ''
set datafile missing 'none'
do for [k = 0:3] {
  cores_column = 2 + 2 * k
  p99_column = 3 + 2 * k
  lost = ''
  set table $scratch
  plot data using 1:(strcol(cores_column) ne '-' && strcol(p99_column) eq '-' ? \
    (lost = lost . (strlen(lost) ? ', ' : '') . strcol(1), 0) : 0) with table
  unset table
  if (strlen(lost) > 0) {
    lost_note = lost_note . series[k + 1] . ': no client got two status answers in time at ' . lost . ' clients. '
  }
}

set terminal png size 1200,520 font ',11'
set output out
set datafile missing '-'
set style line 1 lc rgb '#1f5fa8' lw 2 pt 7 ps 1.2
set style line 2 lc rgb '#c8321e' lw 2 pt 5 ps 1.2
set style line 3 lc rgb '#7fa6d6' lw 2 pt 6 ps 1.2
set style line 4 lc rgb '#e8a090' lw 2 pt 4 ps 1.2
set grid
set key top left box opaque
set xlabel 'waitfors at once (6 polls each)'
set xrange [0:*]
set bmargin 5
if (strlen(lost_note) > 0) { set label 1 lost_note at screen 0.5, screen 0.025 center }
set multiplot layout 1,2 title heading

set title 'client CPU, all clients together'
set ylabel 'cores (CPU time / wall time)'
set yrange [0:*]
if (before) {
  plot data using 1:2 with linespoints ls 1 title 'HTTP, now', \
       '' using 1:4 with linespoints ls 2 title 'HTTPS, now', \
       '' using 1:6 with linespoints ls 3 title 'HTTP, before', \
       '' using 1:8 with linespoints ls 4 title 'HTTPS, before'
} else {
  plot data using 1:2 with linespoints ls 1 title 'HTTP', \
       '' using 1:4 with linespoints ls 2 title 'HTTPS'
}

set title 'p99 gap between a client''s polls'
set ylabel 'seconds'
set yrange [4.9:*]
set key top right
if (before) {
  plot data using 1:3 with linespoints ls 1 title 'HTTP, now', \
       '' using 1:5 with linespoints ls 2 title 'HTTPS, now', \
       '' using 1:7 with linespoints ls 3 title 'HTTP, before', \
       '' using 1:9 with linespoints ls 4 title 'HTTPS, before', \
       5.2 with lines lc rgb '#444444' dt 2 lw 1 title 'target 5.2 s'
} else {
  plot data using 1:3 with linespoints ls 1 title 'HTTP', \
       '' using 1:5 with linespoints ls 2 title 'HTTPS', \
       5.2 with lines lc rgb '#444444' dt 2 lw 1 title 'target 5.2 s'
}
unset multiplot
