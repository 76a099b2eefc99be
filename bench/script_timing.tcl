# Times script sub-commands against the simulated cameras: median and 99th percentile of
# 100 calls each. Run by scripts/bench through fennick-cli --simulate.

proc measure {label count command} {
    set times {}
    for {set i 0} {$i < $count} {incr i} {
        set start [clock microseconds]
        uplevel #0 $command
        lappend times [expr {([clock microseconds] - $start) / 1000.0}]
    }
    set sorted [lsort -real $times]
    set median [lindex $sorted [expr {$count / 2}]]
    set p99 [lindex $sorted [expr {int(ceil($count * 0.99)) - 1}]]
    puts [format "FIGURE %-44s median %7.1f ms   99th percentile %7.1f ms" $label $median $p99]
}

Fennick DetectCameras
for {set i 0} {$i < [Fennick GetNumCameras]} {incr i} {
    Fennick SetActiveCamera $i
    Fennick Connect
}
Fennick SetActiveCamera 0
measure "Fennick Get Aperture" 100 {Fennick Get Aperture}
measure "Fennick TakePhoto, one camera" 100 {Fennick TakePhoto}
Fennick EnableMultiMode
measure "Fennick TakePhoto, three cameras (multi mode)" 100 {Fennick TakePhoto}
Fennick DisableMultiMode
