# An infrared node on its own: GREY only, 480 x 480. Its name is cut to the 31 characters the
# kernel gives a card name, so that only its formats tell what it shows.
# Modelled on what such cameras commonly report; not recorded from a device.
[device]
node = /dev/video0
card = Integrated Camera: Integrated I
driver = uvcvideo
version = 6.1.0
bus = usb-0000:00:14.0-7
by-id = usb-Laptop_Maker_Integrated_Camera_0002-video-index0
by-path = pci-0000:00:14.0-usb-0:7:1.0-video-index0
metadata = yes
first-frame-ms = 300
formats:
ioctl: VIDIOC_ENUM_FMT
	Type: Video Capture

	[0]: 'GREY' (8-bit Greyscale)
		Size: Discrete 480x480
			Interval: Discrete 0.067s (15.000 fps)
controls:

User Controls

                     brightness 0x00980900 (int)    : min=0 max=255 step=1 default=128 value=128
