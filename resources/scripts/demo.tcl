# Fennick demo: finds the cameras, connects them, shows their settings, takes a photo on
# every camera and tells where each photo was saved.
#
# Run it with simulated cameras:  scripts/run
# or by hand:                     build/bin/fennick-cli --simulate resources/scripts/demo.tcl

puts "Detecting cameras..."
Fennick DetectCameras
set count [Fennick GetNumCameras]
puts "$count camera(s) found"
if {$count == 0} {
    puts "Nothing to do without a camera (try --simulate)."
    return
}

for {set i 0} {$i < $count} {incr i} {
    Fennick SetActiveCamera $i
    if {![Fennick Connect]} {
        puts "Camera $i did not connect"
        continue
    }
    puts "Camera $i: [Fennick GetCameraName] ([Fennick GetCameraMake])"
    foreach property {Aperture ShutterSpeed Iso Exposure Quality WhiteBalance Storage} {
        puts [format "  %-13s %s" $property [Fennick Get $property]]
    }
}

puts "Taking a photo on every camera..."
set first [Fennick GetNumPhotos]
for {set i 0} {$i < $count} {incr i} {
    Fennick SetActiveCamera $i
    if {![Fennick TakePhoto]} {
        puts "Camera $i did not take a photo"
    }
}

set last [Fennick GetNumPhotos]
for {set p $first} {$p < $last} {incr p} {
    Fennick SetActivePhoto $p
    array set details [Fennick GetPhotoDetails]
    if {$details(IsDownloaded)} {
        puts "Photo $p from camera $details(Owner) saved to $details(Filename)"
    } else {
        puts "Photo $p from camera $details(Owner) is still on the camera"
    }
}
puts "Done."
