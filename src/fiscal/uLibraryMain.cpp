// Library start-up: registers the driver class when the library is loaded.
