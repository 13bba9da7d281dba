ColorCurves 1.0
colorspace 2
npts1 2
style1 spline
point1 0 0 0
point1 1 255 255
npts2 3
style2 gamma
point2 0 0 0
point2 1 64 128
point2 2 255 255
npts3 2
style3 step
point3 0 0 10
point3 1 255 20
end
