# An older USB camera whose sensor sends raw Bayer frames (BGGR), which the conversion library
# turns into colour; its driver is no standard camera driver, so it is never chosen by itself.
# Modelled on what such cameras commonly report; not recorded from a device.
[device]
node = /dev/video0
card = USB PC Camera
driver = gspca_camera
version = 6.1.0
bus = usb-0000:00:1d.0-1.2
by-id = usb-PC_Camera_Maker_USB_PC_Camera-video-index0
by-path = pci-0000:00:1d.0-usb-0:1.2:1.0-video-index0
metadata = no
first-frame-ms = 500
formats:
ioctl: VIDIOC_ENUM_FMT
	Type: Video Capture

	[0]: 'BA81' (8-bit Bayer BGBG/GRGR)
		Size: Discrete 640x480
			Interval: Discrete 0.033s (30.000 fps)
			Interval: Discrete 0.067s (15.000 fps)
		Size: Discrete 352x288
			Interval: Discrete 0.033s (30.000 fps)
			Interval: Discrete 0.067s (15.000 fps)
		Size: Discrete 320x240
			Interval: Discrete 0.033s (30.000 fps)
			Interval: Discrete 0.067s (15.000 fps)
		Size: Discrete 176x144
			Interval: Discrete 0.033s (30.000 fps)
			Interval: Discrete 0.067s (15.000 fps)
controls:

User Controls

                     brightness 0x00980900 (int)    : min=0 max=255 step=1 default=127 value=127
                           gain 0x00980913 (int)    : min=0 max=255 step=1 default=64 value=64
