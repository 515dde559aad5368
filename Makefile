# Sayalike's two set-up commands:
#   make run    installs what is missing, builds an optimised program in build/ and starts it
#   make test   installs what is missing, builds everything and runs every test tier
# Also: make deb (a Debian package in build-deb/), make bench (start-up figures),
# make clean.
.PHONY: run test deb bench clean
MAKEFLAGS += --no-print-directory

run:
	bash scripts/bootstrap
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSAYALIKE_SANITIZE=OFF -DSAYALIKE_UNIT_ONLY=OFF
	cmake --build build -j 2 --target sayalike
	bash scripts/run

test:
	bash scripts/test

deb:
	bash scripts/bootstrap
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DSAYALIKE_SANITIZE=OFF -DSAYALIKE_UNIT_ONLY=OFF
	cmake --build build-deb -j 2 --target sayalike
	cd build-deb && cpack -G DEB

bench:
	bash scripts/bench

clean:
	rm -rf build build-asan build-tsan build-deb
