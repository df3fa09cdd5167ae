# A USB 3 HDMI capture device: the source's 1920 x 1080 as NV12 or UYVY, nothing smaller, no
# controls. Such devices take a while to lock onto the signal before the first frame.
# Modelled on what such devices commonly report; not recorded from a device.
[device]
node = /dev/video0
card = HDMI Capture: HDMI Capture
driver = uvcvideo
version = 6.1.0
bus = usb-0000:00:14.0-2
by-id = usb-Capture_Maker_HDMI_Capture_20210621-video-index0
by-path = pci-0000:00:14.0-usb-0:2:1.0-video-index0
metadata = yes
first-frame-ms = 900
formats:
ioctl: VIDIOC_ENUM_FMT
	Type: Video Capture

	[0]: 'NV12' (Y/UV 4:2:0)
		Size: Discrete 1920x1080
			Interval: Discrete 0.017s (60.000 fps)
			Interval: Discrete 0.033s (30.000 fps)
	[1]: 'UYVY' (UYVY 4:2:2)
		Size: Discrete 1920x1080
			Interval: Discrete 0.017s (60.000 fps)
			Interval: Discrete 0.033s (30.000 fps)
