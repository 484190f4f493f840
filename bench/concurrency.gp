# Draws bench/run's data of many waitfors at once (FIGURES=concurrency): the clients' CPU and
# the p99 gap between a client's polls, against the number of clients, over HTTP and HTTPS,
# now and before.
#   gnuplot -e "data='bench/concurrency.dat'; out='bench/concurrency.png'; before=1" \
#           -e "heading='...'" bench/concurrency.gp
# Columns of the data: clients; now: HTTP cores, HTTP p99 (s), HTTPS cores, HTTPS p99 (s);
# then the same before ("-" where not measured). before=0 leaves the before lines out.
if (!exists("data")) data = 'bench/concurrency.dat'
if (!exists("out")) out = 'bench/concurrency.png'
if (!exists("before")) before = 1
if (!exists("heading")) heading = ''

set terminal png size 1200,500 font ',11'
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
